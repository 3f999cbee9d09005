#include "library/runcode16.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>

#include "common/byteio.h"
#include "library/jovformat.h"

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "pixel words are copied as they are stored");

// Row mapping.  The words are a sequence of row records, each a word L and then L
// words of codes.  Stored records either carry one extra row record in front of the
// picture rows (height + 1 records, the first not shown) or just one record per row.
// The decoder counts the row records first: with height + 1 or more it skips the
// first, otherwise record r is row r.  That way both kinds of data come out in place,
// instead of one of them being shifted up by a row with the bottom row lost.
void DecodeRuns16(const uint8_t* words, int64_t wordCount, int width, int height, QImage& picture) {
  if (width <= 0 || height <= 0) return;
  wordCount = std::max<int64_t>(wordCount, 0);
  auto word = [words](int64_t i) { return GetU16(words + i * 2); };

  int64_t records = 0;
  for (int64_t pos = 0; pos < wordCount && records <= height; pos += int64_t(word(pos)) + 1)
    ++records;
  const int firstShown = records > height ? 1 : 0;

  uchar* const bits = picture.bits();
  const qsizetype stride = picture.bytesPerLine();
  int64_t rowStart = 0;
  for (int record = 0; record < height + firstShown; ++record) {
    const int row = record - firstShown;
    auto* out = row >= 0 ? reinterpret_cast<quint16*>(bits + row * stride) : nullptr;
    // A row record that would begin at or past the end of the words is an empty row.
    if (rowStart >= wordCount) {
      if (out) std::memset(out, 0, size_t(width) * 2);
      continue;
    }
    const int64_t length = word(rowStart);
    if (out) {
      const int64_t rowEnd = rowStart + length;
      int64_t pos = rowStart + 1;
      int64_t x = 0;       // column of the next code
      int64_t filled = 0;  // columns before this one hold their final value
      while (pos < rowEnd && pos + 1 < wordCount) {
        const uint16_t code = word(pos);
        const int64_t n = word(pos + 1);
        pos += 2;
        if (code == jov::kRunSkip) {
          x += n;
        } else if (code == jov::kRunPixels1 || code == jov::kRunPixels2 ||
                   code == jov::kRunPixels3) {
          // Only columns below the width are stored; the read position always moves
          // past all n words (as far as the words go).  Skipped pixels are black (0).
          const int64_t available = std::min(n, wordCount - pos);
          const int64_t stored = std::clamp<int64_t>(width - x, 0, available);
          if (stored > 0) {
            if (x > filled) std::memset(out + filled, 0, size_t(x - filled) * 2);
            std::memcpy(out + x, words + pos * 2, size_t(stored) * 2);
            filled = std::max(filled, x + stored);
          }
          pos += n;
          x += n;
        } else {
          // An unknown code ends the row.
          break;
        }
      }
      if (filled < width) std::memset(out + filled, 0, size_t(width - filled) * 2);
    }
    rowStart += length + 1;
  }
}
