#pragma once

// Pictures that carry their identity, for tests where a reader races a writer: picture id
// (1 to 255) is a solid block of colour id of LibraryBuilder's palette, of a size that
// follows from the id.  A record read across a change (pixels of two pictures, the size of
// one and the pixels of another, bytes of a record header) is told from every whole one.

#include <QImage>
#include <QSize>

#include "support/bmpbuilder.h"
#include "support/libbuilder.h"

inline QSize IdSize(int id, int base) {
  return QSize(base + 4 * (id % 5), base + 3 * (id % 7));
}

// The palette colour id of LibraryBuilder's palette, as 0xRRGGBB.
inline uint32_t IdColour(int id) {
  return uint32_t((id / 2) << 16 | (255 - id) << 8 | id);
}

inline void AddIdImage(LibraryBuilder& b, int id, int base) {
  const QSize s = IdSize(id, base);
  b.Add8(int16_t(s.width()), int16_t(s.height()), int16_t(id), int16_t(-id),
         std::vector<uint8_t>(size_t(s.width()) * size_t(s.height()), uint8_t(id)));
}

// An 8-bit bitmap file of picture id, whose one colour is the library's colour id.
inline QByteArray IdBitmap(int id, int base) {
  const QSize s = IdSize(id, base);
  BmpSpec spec;
  spec.width = s.width();
  spec.height = s.height();
  spec.colours = {IdColour(id)};
  spec.coloursUsed = 1;
  spec.pixels = QByteArray(int(BmpRowBytes(8, s.width()) * s.height()), '\0');
  return BuildBmp(spec);
}

// The id of a fetched picture, or -1 when it is no whole picture of an id.
inline int IdOf(const QImage& image, int base) {
  if (image.isNull() || image.format() != QImage::Format_Indexed8) return -1;
  const int id = image.pixelIndex(0, 0);
  if (id < 1 || image.size() != IdSize(id, base)) return -1;
  for (int y = 0; y < image.height(); ++y) {
    const uchar* row = image.constScanLine(y);
    for (int x = 0; x < image.width(); ++x)
      if (row[x] != id) return -1;
  }
  return id;
}
