#include "library/recordreader.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// The most a fetch reads ahead of a record's header on the guess that the record is as
// large as the previous one.
constexpr int64_t kMaxReadAhead = 256 * 1024;

}  // namespace

int64_t TRecordReader::ReadHead(TFile& file, int64_t offset, int64_t headerSize) {
  if (offset < 0) return -1;
  headWanted_ = std::max(headerSize, std::min(lastRecordSize_, kMaxReadAhead));
  const int64_t got = file.ReadAt(offset, buffer_.Reserve(headWanted_), headWanted_);
  return got >= headerSize ? got : -1;
}

bool TRecordReader::ReadRest(TFile& file, int64_t offset, int64_t have, int64_t total) {
  if (have >= total) {
    lastRecordSize_ = total;
    return true;
  }
  // A short first read met the end of the file.  Otherwise the size is checked against
  // the file before anything is allocated for it.
  if (have < headWanted_ || offset + total > file.Size()) return false;
  lastRecordSize_ = total;
  uint8_t* buffer = buffer_.Reserve(total, have);
  return file.ReadAt(offset + have, buffer + have, total - have) == total - have;
}

void LayRows8(const uint8_t* pixels, int w, int h, const QList<QRgb>& colours, uint8_t pad,
              QImage& out) {
  const int outWidth = int((int64_t(w) * 8 + 31) / 32 * 4);
  // The picture is reused while it keeps its size, so stepping through a library of
  // like-sized images does not allocate.
  if (out.width() != outWidth || out.height() != h || out.format() != QImage::Format_Indexed8)
    out = QImage(outWidth, h, QImage::Format_Indexed8);
  if (out.colorTable() != colours) out.setColorTable(colours);
  uchar* const bits = out.bits();
  const qsizetype stride = out.bytesPerLine();
  for (int y = 0; y < h; ++y) {
    uchar* row = bits + y * stride;
    std::memcpy(row, pixels + size_t(h - 1 - y) * size_t(w), size_t(w));
    if (outWidth > w) std::memset(row + w, pad, size_t(outWidth - w));
  }
}

uint8_t NearestToBlack(const uint8_t* palette) {
  int best = 0;
  int bestDistance = INT_MAX;
  for (int i = 0; i < 256; ++i) {
    const int b = palette[i * 4], g = palette[i * 4 + 1], r = palette[i * 4 + 2];
    const int d = r * r + g * g + b * b;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return uint8_t(best);
}
