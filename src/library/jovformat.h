#pragma once

// Byte layouts of the library files: the data file (.jov) and the index file (.JOX).

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <span>

namespace jov {

// Titles that identify the variants.  The length byte is part of the comparison.
inline constexpr char kTitle0[] = "ILIB v1.0-TALVEN Entertainment inc.";  // FileType 0, length 35
inline constexpr char kTitle1[] = "TALVEN Entertainment inc.";            // FileType 1, length 25
inline constexpr char kTitle2[] = "ILIB v1.0-TALVEN";  // FileType 2, NUL-terminated from byte 2
inline constexpr char kIndexTitle[] = "INDX v1.0-TALVEN Entertainment inc.";

inline constexpr int kDataHeaderSize = 56;   // TJovHeader, FileType 0
inline constexpr int kIndexHeaderSize = 48;  // TJoxHeader, FileType 0
inline constexpr int kIndexHeader16Size = 24;
inline constexpr int kCountOffset16 = 20;     // IndexCount in the FileType 2 index file
inline constexpr int kDataHeader16Size = 28;  // FileType 2: the title among unread bytes
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

// Positions inside FileType 0 and 1 files follow from OffSet (0 or 4); the sizes of
// whole headers, which FileType 2 files have too, from FileType.

// Where the palette of a data file starts.
inline constexpr int64_t PaletteOffset(int offSet) {
  return kDataHeaderSize + offSet;
}
// Bytes in front of the first record of a data file: the header and, for FileType 0 and
// 1, the palette.
inline constexpr int FirstRecordOffset(int fileType) {
  return fileType == 2 ? kDataHeader16Size : kFirstRecord + (fileType == 1 ? 4 : 0);
}
// Bytes in front of the first entry of an index file.
inline constexpr int IndexHeaderSize(int fileType) {
  return fileType == 2 ? kIndexHeader16Size : kIndexHeaderSize + (fileType == 1 ? 4 : 0);
}

// Size of an 8-bit record header: width, height, px, py, and for FileType 1 (OffSet 4)
// px and py again.
inline constexpr int RecordHeaderSize(int offSet) {
  return kImageHeaderSize + offSet;
}
// Where index entry i of a FileType 0 or 1 index file stands.
inline constexpr int64_t IndexEntryOffset(int offSet, int64_t i) {
  return kIndexHeaderSize + offSet + 4 * i;
}
// Encodes an 8-bit record header into out (RecordHeaderSize(offSet) bytes).  Values are
// stored as their low 16 bits.
void EncodeRecordHeader(uint8_t* out, int offSet, int width, int height, int px, int py);
// Encodes a 16-bit record header into out (kImageHeader16Size bytes): width, height, px,
// py, 5 bytes of 0 and the number of pixel words that follow.
void EncodeRecordHeader16(uint8_t* out, int width, int height, int px, int py, int32_t wordCount);

// Encodes the front of a data file into out (FirstRecordOffset(fileType) bytes).  FileType
// 0 and 1: the length-prefixed title of the variant, imageCount, the colour count 256 and
// the palette size 1024, for FileType 1 four bytes of 0, then the 1024 bytes at palette.
// FileType 2: two bytes of 0 and the title ended by NUL; imageCount and palette are not
// used (its count is the index's).  Bytes no reader looks at are 0.
void EncodeDataHeader(uint8_t* out, int fileType, int32_t imageCount, const uint8_t* palette);
// Encodes the header of an index file into out (IndexHeaderSize(fileType) bytes): the
// index title and count, for FileType 1 four more bytes of 0; for FileType 2, 20 bytes
// of 0 and the count.
void EncodeIndexHeader(uint8_t* out, int fileType, int32_t count);
// Encodes index entries, 4 bytes each, into out.
void EncodeIndexEntries(uint8_t* out, std::span<const int32_t> entries);

}  // namespace jov

// The label the viewer shows for a library variant.
QString TypeLabel(int fileType, int offSet);
