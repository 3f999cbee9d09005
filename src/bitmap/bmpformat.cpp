#include "bitmap/bmpformat.h"

#include <cstring>

#include "bitmap/dib.h"
#include "common/byteio.h"

namespace bmp {

void EncodeFileHeader(uint8_t* out, uint32_t fileSize, uint32_t pixelOffset) {
  out[0] = 'B';
  out[1] = 'M';
  PutU32(out + 2, fileSize);
  PutU32(out + 6, 0);
  PutU32(out + 10, pixelOffset);
}

void EncodeInfoHeader(uint8_t* out, int32_t width, int32_t height, int depth, uint32_t compression,
                      uint32_t imageSize) {
  std::memset(out, 0, kInfoHeaderSize);
  PutU32(out, kInfoHeaderSize);
  PutI32(out + 4, width);
  PutI32(out + 8, height);
  PutU16(out + 12, 1);
  PutU16(out + 14, uint16_t(depth));
  PutU32(out + 16, compression);
  PutU32(out + 20, imageSize);
}

void EncodeMasks(uint8_t* out, const ChannelLayout& layout) {
  PutU32(out, uint32_t(layout.RedMask));
  PutU32(out + 4, uint32_t(layout.GreenMask));
  PutU32(out + 8, uint32_t(layout.BlueMask));
}

}  // namespace bmp
