#pragma once

// Builds bitmap (BMP) files byte by byte from the published format, for tests.  It does
// not use the program's own reader or writer, so that a test of those proves something.

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

struct BmpSpec {
  bool fileHeader = true;  // the 14-byte "BM" header; false gives a packed DIB
  bool core = false;       // 12-byte core header (16-bit sizes, 3-byte colours)
  int32_t width = 1;
  int32_t height = 1;  // negative: rows stored top row first
  uint16_t planes = 1;
  uint16_t depth = 8;
  uint32_t compression = 0;           // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
  std::optional<uint32_t> imageSize;  // default: the size of pixels
  int32_t xResolution = 2835;
  int32_t yResolution = 2835;
  uint32_t coloursUsed = 0;
  uint32_t coloursImportant = 0;
  std::optional<std::array<uint32_t, 3>> masks;  // red, green, blue after the header
  std::vector<uint32_t> colours;                 // 0xRRGGBB, written as given
  uint32_t gap = 0;                              // bytes of 0xEE between colours and pixels
  std::optional<uint32_t> pixelOffset;           // default: where the pixels really start
  std::optional<uint32_t> fileSize;              // default: the real size
  std::optional<uint32_t> headerSize;            // default: 12 or 40
  QByteArray pixels;                             // exactly as they go into the file
};

QByteArray BuildBmp(const BmpSpec& spec);

// Bytes per row of an uncompressed picture: depth x width bits, padded to 4 bytes.
int64_t BmpRowBytes(int depth, int width);

// Packs pixel values (palette indexes, or 16/24/32-bit words) into padded rows.  rows is
// top row first; the result holds the bottom row first unless topDown is set.
QByteArray PackBmpRows(int depth, int width, const std::vector<std::vector<uint32_t>>& rows,
                       bool topDown = false);

// Pseudo-random pixel values below 2^bits, for width x height pixels (top row first).
std::vector<std::vector<uint32_t>> RandomBmpPixels(int width, int height, int bits, uint32_t seed);

// n pseudo-random colours 0xRRGGBB.
std::vector<uint32_t> RandomBmpColours(int n, uint32_t seed);

// Writes bytes to a file; returns false on failure.
bool WriteBytesToFile(const QString& path, const QByteArray& bytes);
