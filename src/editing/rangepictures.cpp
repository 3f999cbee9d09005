#include "editing/rangepictures.h"

#include <optional>

#include "common/byteio.h"
#include "library/jovformat.h"
#include "library/myjov.h"

TRangePictures::TRangePictures(TJOV& jov)
    : jov_(jov), sixteenBit_(jov.FileType() == TFileType::RunCoded) {
  for (int i = 0; i < 256; ++i)
    colours_[size_t(i)] =
        0xFF000000u | qRgb(jov.Palette()[size_t(i) * 4 + 2], jov.Palette()[size_t(i) * 4 + 1],
                           jov.Palette()[size_t(i) * 4]);
}

TRecordFrame TRangePictures::Header(int index) {
  const std::optional<int32_t> entry = jov_.EntryOf(index);
  // Width, height, px and py open the record header of every variant.
  uint8_t h[8];
  if (!entry || *entry < (sixteenBit_ ? 1 : 0) || !jov_.IsOpen() ||
      jov_.DataStream()->ReadAt(*entry, h, sizeof h) != int64_t(sizeof h))
    return {};
  TRecordFrame frame{GetI16(h), GetI16(h + 2), GetI16(h + 4), GetI16(h + 6)};
  const int limit = sixteenBit_ ? jov::kMaxImageSide16 : jov::kMaxImageSide8;
  if (frame.Empty() || frame.width > limit || frame.height > limit) frame.width = frame.height = 0;
  return frame;
}

const QImage* TRangePictures::Picture(int index, const TRecordFrame& frame) {
  if (frame.Empty()) return nullptr;
  const QImage* picture = jov_.ImageAt(index);
  const QImage::Format format = sixteenBit_ ? QImage::Format_RGB16 : QImage::Format_Indexed8;
  if (picture == nullptr || picture->format() != format || picture->width() < frame.width ||
      picture->height() != frame.height)
    return nullptr;
  return picture;
}
