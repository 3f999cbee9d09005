#include "editing/sheet.h"

#include <QtEndian>
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "bitmap/bmpformat.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/operation.h"
#include "editing/pngstream.h"
#include "editing/rangepictures.h"

namespace {

// A row of cells, as drawn before it is written, may take this much memory at most.
constexpr int64_t kMaxRowBytes = int64_t(256) << 20;

// The digits 0 to 9: seven rows of five pixels each, the leftmost pixel in bit 4.
constexpr uint8_t kDigitRows[10][kSheetDigitHeight] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};

QByteArray LabelOf(int index) {
  return QByteArray::number(index).rightJustified(5, '0');
}

int LabelWidth(qsizetype digits) {
  return int(digits) * (kSheetDigitWidth + 1) + 1;
}

bool IsBlack(QRgb colour) {
  return (colour & 0xFFFFFF) == 0;
}

// An RGBA pixel as one word whose bytes in memory are red, green, blue and alpha: the
// order of the PNG file.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "RGBA words are written as they lie in memory");
uint32_t Rgba(QRgb colour) {
  return uint32_t(qRed(colour)) | uint32_t(qGreen(colour)) << 8 | uint32_t(qBlue(colour)) << 16 |
         uint32_t(qAlpha(colour)) << 24;
}

// The palette entry nearest to target, leaving out pure black (transparent) when asked.
uint8_t Nearest(const std::array<QRgb, 256>& colours, QRgb target, bool notBlack) {
  int best = 0, bestDistance = INT32_MAX;
  for (int i = 0; i < 256; ++i) {
    const QRgb c = colours[size_t(i)];
    if (notBlack && IsBlack(c)) continue;
    const int r = qRed(c) - qRed(target), g = qGreen(c) - qGreen(target),
              b = qBlue(c) - qBlue(target);
    if (const int d = r * r + g * g + b * b; d < bestDistance) best = i, bestDistance = d;
  }
  return uint8_t(best);
}

// The pixel values a sheet is drawn with: palette indices (uint8_t) or RGBA words.
template <class Pixel>
struct TInk {
  Pixel ground = 0, plate = 0, digit = 0;
  std::array<Pixel, 256> ofIndex{};  // the pixel of each palette index of an 8-bit picture
};

class TSheet {
 public:
  TSheet(TJOV& jov, const TSheetOptions& options) : source_(jov), options_(options) {}

  TSheetSize Write(const QString& path, TOperationDelegate* delegate) {
    Layout();
    const std::array<QRgb, 256>& colours = source_.Colours();
    const auto black = std::find_if(colours.begin(), colours.end(), IsBlack);
    const bool indexed = !source_.SixteenBit() && black != colours.end();
    if (int64_t(width_) * rowHeightMax_ * (indexed ? 1 : 4) > kMaxRowBytes)
      throw EJovError(QStringLiteral("The sheet would be %1 pixels wide with rows of %2 pixels: "
                                     "too large, choose fewer columns or a smaller scale")
                          .arg(width_)
                          .arg(rowHeightMax_));
    std::unique_ptr<TPngStream> png;
    try {
      if (indexed) {
        TInk<uint8_t> ink;
        ink.ground = uint8_t(black - colours.begin());
        ink.plate = Nearest(colours, qRgb(255, 255, 255), true);
        ink.digit = Nearest(colours, qRgb(0, 0, 0), true);
        QList<QRgb> palette(256);
        for (int i = 0; i < 256; ++i) {
          ink.ofIndex[size_t(i)] = uint8_t(i);
          palette[i] = IsBlack(colours[size_t(i)]) ? qRgba(0, 0, 0, 0) : colours[size_t(i)];
        }
        png = std::make_unique<TPngStream>(path, width_, height_, palette);
        WriteRows(*png, ink, delegate);
      } else {
        TInk<uint32_t> ink;
        ink.ground = 0;
        ink.plate = Rgba(qRgb(255, 255, 255));
        ink.digit = Rgba(qRgb(0, 0, 0));
        for (int i = 0; i < 256; ++i) ink.ofIndex[size_t(i)] = Rgba(colours[size_t(i)]);
        png = std::make_unique<TPngStream>(path, width_, height_);
        WriteRows(*png, ink, delegate);
      }
      png->Finish();
    } catch (...) {
      // A sheet cut short is of no use: the file goes, when this run made it.
      if (png) {
        png.reset();
        try {
          RemoveFile(path);
        } catch (...) {
        }
      }
      throw;
    }
    return {width_, height_};
  }

 private:
  int Count() const { return options_.range.end - options_.range.start + 1; }

  static int64_t RowHeight(int64_t imageHeight) {
    return kSheetPadding + imageHeight + kSheetPadding + kSheetLabelHeight + kSheetPadding;
  }

  // Reads every record header of the range: the widest and the tallest image of each row
  // of cells set the size of its cells.
  void Layout() {
    const int count = Count();
    const int64_t scale = options_.scale;
    columns_ = std::min(options_.columns, count);
    frames_.resize(size_t(count));
    rows_.assign(size_t((count + columns_ - 1) / columns_), {});
    const int64_t label = LabelWidth(LabelOf(options_.range.end).size());
    std::vector<int64_t> widest(rows_.size(), label), tallest(rows_.size(), 0);
    for (int k = 0; k < count; ++k) {
      const TRecordFrame frame = source_.Header(options_.range.start + k);
      frames_[size_t(k)] = frame;
      const size_t row = size_t(k / columns_);
      widest[row] = std::max(widest[row], frame.width * scale);
      tallest[row] = std::max(tallest[row], frame.height * scale);
    }
    int64_t width = 0, height = 0;
    rowHeightMax_ = 0;
    for (size_t row = 0; row < rows_.size(); ++row) {
      const int64_t cells = std::min<int64_t>(columns_, count - int64_t(row) * columns_);
      const int64_t cellWidth = widest[row] + 2 * kSheetPadding;
      const int64_t rowHeight = RowHeight(tallest[row]);
      width = std::max(width, cells * cellWidth);
      height += rowHeight;
      rowHeightMax_ = std::max(rowHeightMax_, rowHeight);
      rows_[row] = {int(cellWidth), int(tallest[row])};  // both at most 16 x 2000 + a few
    }
    if (width > INT32_MAX || height > INT32_MAX)
      throw EJovError(QStringLiteral("The sheet would be larger than a PNG picture can be"));
    width_ = int(width);
    height_ = int(height);
  }

  template <class Pixel>
  void WriteRows(TPngStream& png, const TInk<Pixel>& ink, TOperationDelegate* delegate) {
    std::vector<Pixel> strip;
    const size_t stride = size_t(width_);
    const int count = Count();
    for (size_t row = 0; row < rows_.size(); ++row) {
      const int cellWidth = rows_[row].cellWidth, imageHeight = rows_[row].imageHeight;
      const int rowHeight = int(RowHeight(imageHeight));
      strip.assign(stride * size_t(rowHeight), ink.ground);
      for (int column = 0; column < columns_; ++column) {
        const int k = int(row) * columns_ + column;
        if (k >= count) break;
        Step(delegate, k, count);
        const int index = options_.range.start + k;
        const int cellX = column * cellWidth;
        const TRecordFrame& frame = frames_[size_t(k)];
        if (const QImage* picture = source_.Picture(index, frame)) {
          const int w = frame.width * options_.scale, h = frame.height * options_.scale;
          Pixel* at = strip.data() + size_t(kSheetPadding + (imageHeight - h) / 2) * stride +
                      size_t(cellX + (cellWidth - w) / 2);
          DrawPicture(at, stride, *picture, frame, ink);
        }
        const QByteArray label = LabelOf(index);
        Pixel* at = strip.data() + size_t(kSheetPadding + imageHeight + kSheetPadding) * stride +
                    size_t(cellX + (cellWidth - LabelWidth(label.size())) / 2);
        DrawLabel(at, stride, label, ink);
      }
      for (int y = 0; y < rowHeight; ++y)
        png.WriteRow(reinterpret_cast<const uint8_t*>(strip.data() + size_t(y) * stride));
    }
  }

  // The picture's frame.width x frame.height pixels, each as a square of scale pixels.
  template <class Pixel>
  void DrawPicture(Pixel* at, size_t stride, const QImage& picture, const TRecordFrame& frame,
                   const TInk<Pixel>& ink) {
    const int scale = options_.scale;
    const size_t scaledWidth = size_t(frame.width) * size_t(scale);
    for (int y = 0; y < frame.height; ++y) {
      Pixel* out = at + size_t(y) * size_t(scale) * stride;
      Pixel* o = out;
      if (picture.format() == QImage::Format_RGB16) {
        if constexpr (sizeof(Pixel) == 4) {
          const auto* in = reinterpret_cast<const quint16*>(picture.constScanLine(y));
          for (int x = 0; x < frame.width; ++x) {
            const Pixel p = in[x] == 0 ? 0 : Rgba(0xFF000000u | bmp::Widen565(in[x]));
            for (int s = 0; s < scale; ++s) *o++ = p;
          }
        }
      } else {
        const uchar* in = picture.constScanLine(y);
        for (int x = 0; x < frame.width; ++x) {
          const Pixel p = ink.ofIndex[in[x]];
          for (int s = 0; s < scale; ++s) *o++ = p;
        }
      }
      for (int s = 1; s < scale; ++s)
        std::memcpy(out + size_t(s) * stride, out, scaledWidth * sizeof(Pixel));
    }
  }

  template <class Pixel>
  static void DrawLabel(Pixel* at, size_t stride, const QByteArray& label, const TInk<Pixel>& ink) {
    const int width = LabelWidth(label.size());
    for (int y = 0; y < kSheetLabelHeight; ++y)
      std::fill_n(at + size_t(y) * stride, width, ink.plate);
    for (qsizetype d = 0; d < label.size(); ++d) {
      const uint8_t* rows = kDigitRows[label[d] - '0'];
      Pixel* digit = at + stride + 1 + size_t(d) * (kSheetDigitWidth + 1);
      for (int y = 0; y < kSheetDigitHeight; ++y)
        for (int x = 0; x < kSheetDigitWidth; ++x)
          if (rows[y] & (0x10 >> x)) digit[size_t(y) * stride + size_t(x)] = ink.digit;
    }
  }

  TRangePictures source_;
  TSheetOptions options_;
  std::vector<TRecordFrame> frames_;
  struct TRow {
    int cellWidth = 0;
    int imageHeight = 0;  // the tallest image of the row, scaled
  };
  std::vector<TRow> rows_;
  int64_t rowHeightMax_ = 0;
  int columns_ = 1;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace

TSheetSize WriteSheet(TJOV& jov, const QString& path, const TSheetOptions& options,
                      TOperationDelegate* delegate) {
  if (options.range.start < 0 || options.range.start > options.range.end || options.columns < 1 ||
      options.scale < 1)
    throw EJovError(std::string("A sheet needs at least one image, one column and a scale of 1"));
  return TSheet(jov, options).Write(path, delegate);
}
