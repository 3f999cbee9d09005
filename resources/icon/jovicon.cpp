// jovicon: draws the program's icon, a pixel-art star on a checkered canvas with the two
// placement axes through its foot point, at each size asked for.  Every size is drawn on its
// own pixel grid (the star's cells are whole pixels), so the small ones stay sharp.
//
//   jovicon OUTDIR SIZE...   writes OUTDIR/SIZExSIZE/apps/jovviewer.png for every SIZE

#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cstdio>
#include <cstdlib>

namespace {

// The sprite, one letter per cell: K outline, Y body, W highlight, O shade, '.' clear.
constexpr int kSpriteSize = 11;
constexpr const char* kSprite[kSpriteSize] = {
    ".....K.....",  //
    "....KWK....",  //
    "....KYK....",  //
    "KKKKKYKKKKK",  //
    "KWYYYYYYYOK",  //
    ".KYYYYYYOK.",  //
    "..KYYYYYK..",  //
    "..KYYKYOK..",  //
    ".KYYK.KOOK.",  //
    ".KYK...KOK.",  //
    "KKK.....KKK",  //
};

QColor CellColour(char c) {
  switch (c) {
    case 'K':
      return QColor(0x3a, 0x1f, 0x04);
    case 'Y':
      return QColor(0xf7, 0xc3, 0x2a);
    case 'W':
      return QColor(0xff, 0xf3, 0xb0);
    case 'O':
      return QColor(0xd9, 0x7b, 0x12);
    default:
      return QColor(Qt::transparent);
  }
}

QImage DrawIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);

  // The tile: a rounded square with a light-to-dark slate gradient.
  const qreal margin = size >= 32 ? size / 32.0 : 0.5;
  const QRectF tile(margin, margin, size - 2 * margin, size - 2 * margin);
  QLinearGradient gradient(tile.topLeft(), tile.bottomLeft());
  gradient.setColorAt(0, QColor(0x3f, 0x5a, 0x86));
  gradient.setColorAt(1, QColor(0x1d, 0x2b, 0x45));
  QPainterPath tilePath;
  tilePath.addRoundedRect(tile, size * 0.18, size * 0.18);
  painter.fillPath(tilePath, gradient);

  // The star's cells are whole pixels: as large as fits in about three fifths of the tile,
  // or four fifths at the small sizes that have no canvas around it.
  const bool withCanvas = size >= 48;
  const int cell = std::max(1, int(size * (withCanvas ? 0.62 : 0.8)) / kSpriteSize);
  const int spriteExtent = cell * kSpriteSize;
  const int origin = (size - spriteExtent) / 2;
  painter.setRenderHint(QPainter::Antialiasing, false);

  // From 48 pixels up the star stands on a checkered canvas, the way the viewer shows
  // transparency, with a one-cell border.
  if (withCanvas) {
    const QRect canvas(origin - cell, origin - cell, spriteExtent + 2 * cell,
                       spriteExtent + 2 * cell);
    for (int y = 0; y < kSpriteSize + 2; ++y)
      for (int x = 0; x < kSpriteSize + 2; ++x)
        painter.fillRect(canvas.x() + x * cell, canvas.y() + y * cell, cell, cell,
                         (x + y) % 2 ? QColor(0xc8, 0xcf, 0xd8) : QColor(0xe8, 0xec, 0xf1));
  }

  for (int y = 0; y < kSpriteSize; ++y)
    for (int x = 0; x < kSpriteSize; ++x) {
      const QColor colour = CellColour(kSprite[y][x]);
      if (colour.alpha() != 0)
        painter.fillRect(origin + x * cell, origin + y * cell, cell, cell, colour);
    }

  // From 32 pixels up: the placement axes through the foot point, the middle of the row
  // under the star, drawn over it as the viewer's grid is.
  if (size >= 32) {
    const int line = std::max(1, size / 64);
    const int footX = origin + (kSpriteSize / 2) * cell + (cell - line) / 2;
    const int footY = origin + spriteExtent - cell / 2 - line / 2;
    const QColor axis(0xe0, 0x3c, 0x31, 200);
    const int from = origin - cell;
    const int extent = spriteExtent + 2 * cell;
    painter.fillRect(from, footY, extent, line, axis);
    painter.fillRect(footX, from, line, extent, axis);
  }
  painter.end();
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: jovicon OUTDIR SIZE...\n", stderr);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size < 16 || size > 1024) {
      std::fprintf(stderr, "jovicon: size %s is not between 16 and 1024\n", argv[i]);
      return 2;
    }
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
    if (!QDir().mkpath(dir) ||
        !DrawIcon(size).save(dir + QStringLiteral("/jovviewer.png"), "PNG")) {
      std::fprintf(stderr, "jovicon: cannot write %s/jovviewer.png\n", qPrintable(dir));
      return 1;
    }
  }
  return 0;
}
