#pragma once

// Byte layouts of the library files: the data file (.jov) and the index file (.JOX).

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace jov {

// Titles that identify the variants.  The length byte is part of the comparison.
inline constexpr char kTitle0[] = "ILIB v1.0-TALVEN Entertainment inc.";  // FileType 0, length 35
inline constexpr char kTitle1[] = "TALVEN Entertainment inc.";            // FileType 1, length 25
inline constexpr char kTitle2[] = "ILIB v1.0-TALVEN";  // FileType 2, NUL-terminated from byte 2
inline constexpr char kIndexTitle[] = "INDX v1.0-TALVEN Entertainment inc.";

inline constexpr int kDataHeaderSize = 56;   // TJovHeader, FileType 0
inline constexpr int kIndexHeaderSize = 48;  // TJoxHeader, FileType 0
inline constexpr int kIndexHeader16Size = 24;
inline constexpr int kCountOffset = 44;  // ImageCount / IndexCount in both files (FileType 0, 1)
inline constexpr int kPaletteSize = 1024;
inline constexpr int kFirstRecord = kDataHeaderSize + kPaletteSize;  // 1080 (+ OffSet)
inline constexpr int kType1FirstRecord = kFirstRecord + 4;           // 1084: the variant 1 check
inline constexpr int kImageHeaderSize = 8;                           // TJovImageHeader (+ OffSet)
inline constexpr int kImageHeader16Size = 17;                        // TJovImageHeader16
inline constexpr int kWordCountOffset16 = 13;

// Pictures larger than this in either direction are not turned into bitmaps.
inline constexpr int kMaxImageSide8 = 2000;
inline constexpr int kMaxImageSide16 = 1000;

// Run codes of the 16-bit records.
inline constexpr uint16_t kRunSkip = 0x00C0;
inline constexpr uint16_t kRunPixels1 = 0x00C1;
inline constexpr uint16_t kRunPixels2 = 0x00C2;
inline constexpr uint16_t kRunPixels3 = 0x00C3;

// Size of an 8-bit record header: width, height, px, py, and for FileType 1 (OffSet 4)
// px and py again.
inline constexpr int RecordHeaderSize(int offSet) { return kImageHeaderSize + offSet; }
// Where index entry i of a FileType 0 or 1 index file stands.
inline constexpr int64_t IndexEntryOffset(int offSet, int64_t i) {
  return kIndexHeaderSize + offSet + 4 * i;
}
// Encodes an 8-bit record header into out (RecordHeaderSize(offSet) bytes).  Values are
// stored as their low 16 bits.
void EncodeRecordHeader(uint8_t* out, int offSet, int width, int height, int px, int py);

}  // namespace jov

// The label the viewer shows for a library variant.
QString TypeLabel(int fileType, int offSet);
