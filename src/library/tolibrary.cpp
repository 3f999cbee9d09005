#include "library/tolibrary.h"

#include <QRect>
#include <cstring>
#include <variant>

#include "common/errors.h"
#include "library/jovformat.h"

namespace {

constexpr QRgb kBlack = 0xFF000000;

// Makes work a W x h picture in palette, all of it the palette colour nearest to black,
// and returns its surface; nullptr (and work emptied) for an empty picture.
TDIBCanvas* PrepareWork(TDIB& work, const TColorTable& palette, int w, int h) {
  CheckPictureShown(w, h);
  if (w <= 0 || h <= 0) {
    work.MakeEmpty();
    return nullptr;
  }
  const int stored = int(LibraryRowWidth(w));
  // One Recreate instead of ChangeWidth and ChangeHeight: it gives the same W x h
  // picture, allocates once when the size changes (not at all when it repeats), and
  // makes the picture 8-bit whatever depth it held before.
  work.Recreate(stored, h, 8);
  work.ColorEntries = palette;
  work.CommitColors();
  TDIBCanvas& surface = work.Surface();
  surface.FillRect(QRect(0, 0, stored, h), kBlack);
  return &surface;
}

}  // namespace

void CheckPictureShown(int w, int h) {
  if (LibraryRowWidth(w) <= jov::kMaxImageSide8 && h <= jov::kMaxImageSide8) return;
  throw EPictureTooLarge(QStringLiteral("the picture is %1 x %2; a library image can be at most "
                                        "%3 x %3")
                             .arg(w)
                             .arg(h)
                             .arg(jov::kMaxImageSide8));
}

bool InLibraryPalette(const QImage& picture, const TColorTable& palette) {
  if (picture.format() != QImage::Format_Indexed8 || picture.colorCount() != 256) return false;
  for (int i = 0; i < 256; ++i) {
    const uint8_t* entry = &palette[size_t(i) * 4];  // blue, green, red, 0
    const QRgb c = picture.color(i), rgb = c & 0xFFFFFF;
    if (rgb != (qRgb(entry[2], entry[1], entry[0]) & 0xFFFFFF)) return false;
    if (qAlpha(c) != 255 && (qAlpha(c) != 0 || rgb != 0)) return false;
  }
  return true;
}

QPoint PictureOffset(const TPicture& picture) {
  const auto* image = std::get_if<QImage>(&picture.Graphic);
  return image == nullptr || image->isNull() ? QPoint() : image->offset();
}

QSize PictureSize(const TPicture& picture) {
  const TPicture::Content& g = picture.Graphic;
  if (const auto* dib = std::get_if<TDIB>(&g)) return {dib->PixelWidth(), dib->PixelHeight()};
  if (const auto* image = std::get_if<QImage>(&g))
    return image->isNull() ? QSize(0, 0) : image->size();
  if (const auto* other = std::get_if<std::shared_ptr<const TGraphic>>(&g); other && *other)
    return {(*other)->Width(), (*other)->Height()};
  return {0, 0};
}

void ToLibraryBitmap(TDIB& work, const TColorTable& palette, const QImage& picture) {
  const int w = picture.isNull() ? 0 : picture.width(), h = picture.isNull() ? 0 : picture.height();
  TDIBCanvas* surface = PrepareWork(work, palette, w, h);
  if (surface == nullptr) return;
  if (InLibraryPalette(picture, palette)) {
    // Its indices as they are, even where the palette holds a colour twice.
    const size_t w = size_t(picture.width());
    for (int y = 0; y < picture.height(); ++y)
      std::memcpy(work.RowAt(y), picture.constScanLine(y), w);
  } else if (picture.hasAlphaChannel()) {
    QImage opaque = picture;
    BlendOverBlack(opaque);
    surface->Draw(0, 0, opaque);
  } else {
    surface->Draw(0, 0, picture);
  }
}

void ToLibraryBitmap(TDIB& work, const TColorTable& palette, const TDIB& picture) {
  if (&work == &picture) {
    // Drawing a picture into itself: take a shared copy first, so that the resize
    // below does not throw away the pixels to be drawn.
    const TDIB source(picture);
    ToLibraryBitmap(work, palette, source);
    return;
  }
  TDIBCanvas* surface = PrepareWork(work, palette, picture.PixelWidth(), picture.PixelHeight());
  if (surface != nullptr && !picture.IsEmpty()) surface->Draw(0, 0, picture);
}

void ToLibraryBitmap(TDIB& work, const TColorTable& palette, const TPicture& picture) {
  const TPicture::Content& g = picture.Graphic;
  if (const auto* dib = std::get_if<TDIB>(&g)) {
    ToLibraryBitmap(work, palette, *dib);
  } else if (const auto* image = std::get_if<QImage>(&g)) {
    ToLibraryBitmap(work, palette, *image);
  } else if (const auto* other = std::get_if<std::shared_ptr<const TGraphic>>(&g);
             other && *other) {
    TDIBCanvas* surface = PrepareWork(work, palette, (*other)->Width(), (*other)->Height());
    if (surface != nullptr) (*other)->Draw(*surface, 0, 0);
  } else {
    work.MakeEmpty();
  }
}

void BlendOverBlack(QImage& image) {
  if (image.isNull() || !image.hasAlphaChannel()) return;
  switch (image.format()) {
    case QImage::Format_Indexed8:
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB: {
      QList<QRgb> table = image.colorTable();
      for (QRgb& c : table) c = qPremultiply(c) | kBlack;
      image.setColorTable(table);
      return;
    }
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
      break;
    default:
      image.convertTo(QImage::Format_ARGB32);
      break;
  }
  // Premultiplying gives the colour over black in the colour channels (x * a / 255,
  // rounded); the alpha channel then says opaque.
  const bool premultiplied = image.format() == QImage::Format_ARGB32_Premultiplied;
  const int w = image.width(), h = image.height();
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < w; ++x) row[x] = (premultiplied ? row[x] : qPremultiply(row[x])) | kBlack;
  }
  image.reinterpretAsFormat(QImage::Format_RGB32);
}

TLibraryRecord ToLibraryRecord(TDIB& work, const TColorTable& palette, const TPicture& picture,
                               int16_t x, int16_t y) {
  static const uint8_t kBlackPixel = 0;
  const QSize size = PictureSize(picture);
  if (size.width() <= 1 || size.height() <= 1) return {1, 1, 1, 1, &kBlackPixel};
  ToLibraryBitmap(work, palette, picture);
  return {work.PixelWidth(), work.PixelHeight(), x, y, work.PixelData()};
}
