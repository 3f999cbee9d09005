#pragma once

// Byte layouts of bitmap data, each kept in one place: the headers of a bitmap file, the
// entries of a colour table, and how pixels of 8 bits or less and of 16 bits are packed.
// Everything that writes a bitmap file or reads pixels of these kinds uses them.

#include <QColor>
#include <cstdint>

struct ChannelLayout;

namespace bmp {

inline constexpr int kFileHeaderSize = 14;
inline constexpr int kInfoHeaderSize = 40;
inline constexpr int kMaskBytes = 12;

inline constexpr uint32_t kCompressionNone = 0;
inline constexpr uint32_t kCompressionRle8 = 1;
inline constexpr uint32_t kCompressionRle4 = 2;
inline constexpr uint32_t kCompressionBitFields = 3;

// The file header (kFileHeaderSize bytes): "BM", the size of the whole file, two reserved
// words of 0, and where the pixels start counted from the start of the file.
void EncodeFileHeader(uint8_t* out, uint32_t fileSize, uint32_t pixelOffset);

// The information header (kInfoHeaderSize bytes) with one plane.  A positive height
// stores the bottom row first.  Resolution, colours used and colours important are 0.
void EncodeInfoHeader(uint8_t* out, int32_t width, int32_t height, int depth, uint32_t compression,
                      uint32_t imageSize);

// The channel masks of a bit-field picture (kMaskBytes bytes): red, green, blue.
void EncodeMasks(uint8_t* out, const ChannelLayout& layout);

// A colour-table entry is 4 bytes: blue, green, red, 0.
inline QRgb EntryColour(const uint8_t* entry) {
  return qRgb(entry[2], entry[1], entry[0]);
}
inline void PutEntryColour(uint8_t* entry, QRgb colour) {
  entry[0] = uint8_t(qBlue(colour));
  entry[1] = uint8_t(qGreen(colour));
  entry[2] = uint8_t(qRed(colour));
  entry[3] = 0;
}

// A 16-bit pixel as 0x00RRGGBB.  Each channel is widened to 8 bits by repeating its top
// bits in the low ones, as QImage does, so that 5-bit 31 becomes 255.
inline uint32_t Widen565(uint32_t v) {
  const uint32_t r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
  return (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
}
inline uint32_t Widen555(uint32_t v) {
  const uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
  return (((r << 3) | (r >> 2)) << 16) | (((g << 3) | (g >> 2)) << 8) | ((b << 3) | (b >> 2));
}

// The colour index of pixel x in a row of depth 1, 4 or 8.  Pixels are packed from the
// high bits of a byte down: at 1 bit pixel 0 is bit 7, at 4 bits the high nibble.
inline int IndexAt(const uint8_t* row, int depth, int x) {
  switch (depth) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
      return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    default:
      return row[x];
  }
}

// Writes the colour index of pixel x, leaving the other pixels of its byte as they are.
inline void PutIndex(uint8_t* row, int depth, int x, uint32_t index) {
  switch (depth) {
    case 1: {
      uint8_t& b = row[x >> 3];
      const uint8_t bit = uint8_t(0x80 >> (x & 7));
      b = (index & 1) ? uint8_t(b | bit) : uint8_t(b & ~bit);
      break;
    }
    case 4: {
      uint8_t& b = row[x >> 1];
      b = (x & 1) ? uint8_t((b & 0xF0) | (index & 0x0F))
                  : uint8_t((b & 0x0F) | ((index & 0x0F) << 4));
      break;
    }
    default:
      row[x] = uint8_t(index);
      break;
  }
}

}  // namespace bmp
