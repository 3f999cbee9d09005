#include "library/jovformat.h"

#include <cstring>

#include "common/byteio.h"

namespace jov {

void EncodeRecordHeader(uint8_t* out, int offSet, int width, int height, int px, int py) {
  PutU16(out, uint16_t(width));
  PutU16(out + 2, uint16_t(height));
  PutU16(out + 4, uint16_t(px));
  PutU16(out + 6, uint16_t(py));
  // FileType 1 keeps a second copy of the placement.
  if (offSet == 4) {
    PutU16(out + 8, uint16_t(px));
    PutU16(out + 10, uint16_t(py));
  }
}

void EncodeRecordHeader16(uint8_t* out, int width, int height, int px, int py, int32_t wordCount) {
  PutU16(out, uint16_t(width));
  PutU16(out + 2, uint16_t(height));
  PutU16(out + 4, uint16_t(px));
  PutU16(out + 6, uint16_t(py));
  std::memset(out + 8, 0, kWordCountOffset16 - 8);
  PutI32(out + kWordCountOffset16, wordCount);
}

namespace {

// A length-prefixed title in the 44 bytes in front of the count, the rest 0.
void EncodeTitle(uint8_t* out, const char* title) {
  const size_t length = std::strlen(title);
  std::memset(out, 0, kCountOffset);
  out[0] = uint8_t(length);
  std::memcpy(out + 1, title, length);
}

}  // namespace

void EncodeDataHeader(uint8_t* out, int fileType, int32_t imageCount, const uint8_t* palette) {
  if (fileType == 2) {
    std::memset(out, 0, kDataHeader16Size);
    std::memcpy(out + 2, kTitle2, sizeof kTitle2);
    return;
  }
  EncodeTitle(out, fileType == 1 ? kTitle1 : kTitle0);
  PutI32(out + kCountOffset, imageCount);
  PutI32(out + kCountOffset + 4, 256);
  PutI32(out + kCountOffset + 8, kPaletteSize);
  const int offSet = fileType == 1 ? 4 : 0;
  if (offSet) PutI32(out + kDataHeaderSize, 0);
  std::memcpy(out + PaletteOffset(offSet), palette, kPaletteSize);
}

void EncodeIndexHeader(uint8_t* out, int fileType, int32_t count) {
  if (fileType == 2) {
    std::memset(out, 0, kCountOffset16);
    PutI32(out + kCountOffset16, count);
    return;
  }
  EncodeTitle(out, kIndexTitle);
  PutI32(out + kCountOffset, count);
  if (fileType == 1) PutI32(out + kIndexHeaderSize, 0);
}

void EncodeIndexEntries(uint8_t* out, std::span<const int32_t> entries) {
  for (int32_t e : entries) {
    PutI32(out, e);
    out += 4;
  }
}

}  // namespace jov

QString TypeLabel(int fileType, int offSet) {
  switch (fileType) {
    case 0:
      return QStringLiteral("VARN   数据格式(1)");
    case 1:
      return QStringLiteral("VARN   数据格式(2)");
    case 2:
      return offSet > 0 ? QStringLiteral("OLM   数据格式(2)") : QStringLiteral("OLM   数据格式(1)");
    default:
      return QString();
  }
}
