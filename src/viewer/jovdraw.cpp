#include "viewer/jovdraw.h"

#include <QImage>
#include <QPainter>
#include <cmath>

#include "bitmap/bmpformat.h"
#include "library/myjov.h"

namespace {

constexpr QRgb kBlackKey = 0xFF000000;
constexpr QRgb kRedKey = 0xFFFF0000;

// One row of the picture as premultiplied ARGB with every pixel equal to key made
// transparent.
void KeyIndexedRow(const uchar* src, QRgb* dst, int w, const QRgb (&lut)[256]) {
  for (int x = 0; x < w; ++x) dst[x] = lut[src[x]];
}

void KeyRgb16Row(const uchar* row, QRgb* dst, int w, QRgb opaqueKey) {
  const auto* src = reinterpret_cast<const quint16*>(row);
  for (int x = 0; x < w; ++x) {
    const QRgb c = 0xFF000000u | bmp::Widen565(src[x]);
    dst[x] = c == opaqueKey ? 0 : c;
  }
}

void KeyRgb32Row(const uchar* row, QRgb* dst, int w, QRgb opaqueKey) {
  const auto* src = reinterpret_cast<const QRgb*>(row);
  for (int x = 0; x < w; ++x) {
    const QRgb c = src[x] | 0xFF000000;
    dst[x] = c == opaqueKey ? 0 : c;
  }
}

// The picture with every pixel equal to key made transparent.  The result is reused
// between calls, so that playing does not allocate per frame.
const QImage& KeyedCopy(const QImage& picture, QRgb key) {
  thread_local QImage scratch;
  const int w = picture.width(), h = picture.height();
  if (scratch.width() != w || scratch.height() != h ||
      scratch.format() != QImage::Format_ARGB32_Premultiplied)
    scratch = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
  const QRgb opaqueKey = key | 0xFF000000;
  QRgb lut[256];
  QImage rgb;
  if (picture.format() == QImage::Format_Indexed8) {
    const QList<QRgb> table = picture.colorTable();
    for (int i = 0; i < 256; ++i) {
      const QRgb c = i < table.size() ? (table[i] | 0xFF000000) : 0xFF000000;
      lut[i] = c == opaqueKey ? 0 : c;
    }
  } else if (picture.format() != QImage::Format_RGB16) {
    rgb = picture.convertToFormat(QImage::Format_RGB32);
  }
  for (int y = 0; y < h; ++y) {
    auto* dst = reinterpret_cast<QRgb*>(scratch.scanLine(y));
    if (picture.format() == QImage::Format_Indexed8)
      KeyIndexedRow(picture.constScanLine(y), dst, w, lut);
    else if (picture.format() == QImage::Format_RGB16)
      KeyRgb16Row(picture.constScanLine(y), dst, w, opaqueKey);
    else
      KeyRgb32Row(rgb.constScanLine(y), dst, w, opaqueKey);
  }
  return scratch;
}

void DrawPicture(QPainter& canvas, const QRect& target, const QImage& picture, QRgb key) {
  const QImage& keyed = KeyedCopy(picture, key);
  canvas.save();
  canvas.setRenderHint(QPainter::SmoothPixmapTransform, false);
  canvas.drawImage(target, keyed);
  canvas.restore();
}

}  // namespace

void DrawFocusRect(QPainter& canvas, const QRect& rect) {
  if (rect.width() <= 0 || rect.height() <= 0) return;
  // Every other pixel along the frame, inverted (XOR with white), as a focus frame is.
  QList<QPoint> points;
  const int l = rect.left(), t = rect.top(), r = rect.left() + rect.width() - 1,
            b = rect.top() + rect.height() - 1;
  for (int x = l; x <= r; x += 2) {
    points.append(QPoint(x, t));
    if (b != t) points.append(QPoint(x, b));
  }
  for (int y = t + 2; y < b; y += 2) {
    points.append(QPoint(l, y));
    if (r != l) points.append(QPoint(r, y));
  }
  canvas.save();
  canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  canvas.setPen(QPen(QColor(255, 255, 255), 1));
  canvas.setRenderHint(QPainter::Antialiasing, false);
  canvas.drawPoints(points.constData(), int(points.size()));
  canvas.restore();
}

void DrawThumbnail(TJOV& jov, QPainter& canvas, const QRect& rect, int index) {
  const QImage* picture = jov.ImageAt(index);
  if (picture == nullptr || picture->isNull()) return;
  const int w = std::min(rect.width(), picture->width());
  const int h = std::min(rect.height(), picture->height());
  if (w <= 0 || h <= 0) return;
  DrawPicture(canvas, QRect(rect.topLeft(), QSize(w, h)), *picture, kBlackKey);
}

void DrawZoomed(TJOV& jov, QPainter& canvas, int x, int y, int index, double zoom,
                bool transparent) {
  const QImage* picture = jov.ImageAt(index);
  if (picture == nullptr) return;
  // Rounded to the nearest integer, halves to even (the default rounding mode).
  const int w = int(std::nearbyint(picture->width() * zoom));
  const int h = int(std::nearbyint(picture->height() * zoom));
  DrawFocusRect(canvas, QRect(x, y, w, h));
  if (w > 0 && h > 0 && !picture->isNull())
    DrawPicture(canvas, QRect(x, y, w, h), *picture, transparent ? kBlackKey : kRedKey);
}
