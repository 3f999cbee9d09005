// Changing a picture as a whole: converting its pixels to another depth, and taking
// over the picture of another graphic.
//
// Both work on a second TDIB that shares the store and carries this picture's unsaved
// ColorEntries and RequestedLayout; this picture takes the result over only when every
// step has succeeded, so a depth or layout a store does not accept, or memory that cannot
// be had, leaves it exactly as it was.

#include <QImage>
#include <cstring>

#include "bitmap/bmpformat.h"
#include "bitmap/dib.h"
#include "common/byteio.h"
#include "common/errors.h"

namespace {

// The colour table a picture gets when its depth is reduced to 8 bits or less.
// 1 bit: entry 0 black, entry 1 white.  4 and 8 bits: a colour cube with 1, 2 and 1
// bits (16 colours) or 3, 3 and 2 bits (256 colours) of red, green and blue, each
// channel's levels spread evenly from 0 to 255; an index holds the levels packed red
// high, blue low, as a pixel of that layout would.  Black and white are always in the
// set.  Unused entries are black.
TColorTable ReducedColours(int depth) {
  TColorTable t{};
  if (depth == 1) {
    t[4] = t[5] = t[6] = 255;
    return t;
  }
  const int rb = depth == 4 ? 1 : 3, gb = depth == 4 ? 2 : 3, bb = depth == 4 ? 1 : 2;
  auto level = [](int v, int bits) { return uint8_t(v * 255 / ((1 << bits) - 1)); };
  for (int i = 0; i < (1 << depth); ++i) {
    uint8_t* e = &t[size_t(i) * 4];
    e[0] = level(i & ((1 << bb) - 1), bb);
    e[1] = level((i >> bb) & ((1 << gb) - 1), gb);
    e[2] = level(i >> (bb + gb), rb);
  }
  return t;
}

// Pixel x of a row of a 16-, 24- or 32-bit picture: 24 bits are blue, green, red; 16
// and 32 bits a word of the layout.
void ReadDirect(const uint8_t* row, int depth, const ChannelLayout& layout, int x, uint8_t& r,
                uint8_t& g, uint8_t& b) {
  if (depth == 24) {
    const uint8_t* p = row + 3 * int64_t(x);
    b = p[0];
    g = p[1];
    r = p[2];
    return;
  }
  const uint32_t v = depth == 16 ? GetU16(row + 2 * int64_t(x)) : GetU32(row + 4 * int64_t(x));
  layout.Unpack(v, r, g, b);
}

void WriteDirect(uint8_t* row, int depth, const ChannelLayout& layout, int x, uint8_t r, uint8_t g,
                 uint8_t b) {
  if (depth == 24) {
    uint8_t* p = row + 3 * int64_t(x);
    p[0] = b;
    p[1] = g;
    p[2] = r;
  } else if (depth == 16) {
    PutU16(row + 2 * int64_t(x), uint16_t(layout.Pack(r, g, b)));
  } else {
    PutU32(row + 4 * int64_t(x), layout.Pack(r, g, b));
  }
}

// Fills the pixels of a zeroed store from a store of the same size, by copying indices
// (both depths 8 or less, the new one not smaller), by looking up the old colour table
// (to 16 bits and more), or by unpacking and repacking colours (both above 8 bits).
void CarryPixels(const TDIBSharedImage& from, TDIBSharedImage& to) {
  const int b = from.depth, n = to.depth;
  for (int y = 0; y < from.height; ++y) {
    const uint8_t* src = from.pixels + int64_t(y) * from.rowBytes;
    uint8_t* dst = to.pixels + int64_t(y) * to.rowBytes;
    for (int x = 0; x < from.width; ++x) {
      if (b <= 8 && n <= 8) {
        bmp::PutIndex(dst, n, x, uint32_t(bmp::IndexAt(src, b, x)));
      } else if (b <= 8) {
        const uint8_t* e = &from.colorTable[size_t(bmp::IndexAt(src, b, x)) * 4];
        WriteDirect(dst, n, to.layout, x, e[2], e[1], e[0]);
      } else {
        uint8_t r, g, bl;
        ReadDirect(src, b, from.layout, x, r, g, bl);
        WriteDirect(dst, n, to.layout, x, r, g, bl);
      }
    }
  }
}

}  // namespace

void TDIB::Adopt(const TDIB& work) {
  if (work.store_ == store_) return;
  ReplaceStore(work.store_);
  paletteModified_ = true;
}

// Every new store is zeroed before its pixels are written, so that the padding at the
// end of each row never carries old memory into files.
void TDIB::ConvertBitDepth(int n) {
  TDIB work(*this);
  work.ColorEntries = ColorEntries;
  work.RequestedLayout = RequestedLayout;
  work.Recreate(width_, height_, n);
  if (work.store_ == store_) return;  // the depth and layout are those it has

  const int b = depth_;
  if (n <= 8 && (b > 8 || n < b)) {
    // Fewer colours than before: a fixed set, each pixel taking the nearest of them.
    work.ColorEntries = ReducedColours(n);
    work.CommitColors();
    std::memset(work.PixelData(), 0, size_t(work.ImageSize()));
    work.Surface().Draw(0, 0, *this);
  } else {
    std::memset(work.PixelData(), 0, size_t(work.ImageSize()));
    const TDIBSharedImage* from = store_.get();
    TDIBSharedImage decoded;
    if (from->compressed) {  // run-length data as read from a file
      decoded.Decompress(*from, true);
      from = &decoded;
    }
    CarryPixels(*from, *work.store_);
  }
  Adopt(work);
}

void TDIB::CopyFrom(std::nullptr_t) {
  MakeEmpty();
}

void TDIB::CopyFrom(const TDIB& source) {
  if (&source != this) ReplaceStore(source.store_);
}

// A QImage keeps its depth where a store has it: 1 bit for Mono and MonoLSB, 8 bits
// for Indexed8 and Grayscale8 (with a grey ramp), 16 bits for RGB16 (5-6-5) and RGB555
// (5-5-5), 24 bits for RGB888 and BGR888.  Every other format, with or without alpha,
// becomes 32 bits of 8-8-8.  Images with a colour table hand it over (missing entries
// black); the others leave ColorEntries as they are.  Pixels are drawn onto zeros, so
// fully transparent ones end up 0.
void TDIB::CopyFrom(const QImage& source) {
  if (source.isNull()) {
    MakeEmpty();
    return;
  }
  int depth = 32;
  ChannelLayout layout = Layout888();
  QVector<QRgb> table;
  switch (source.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
      depth = 1;
      table = source.colorTable();
      // Without a table Qt draws the image with colours of its own choosing.
      if (table.isEmpty())
        table = source.copy(0, 0, 1, 1).convertToFormat(QImage::Format_Indexed8).colorTable();
      break;
    case QImage::Format_Indexed8:
      depth = 8;
      table = source.colorTable();
      break;
    case QImage::Format_Grayscale8:
      depth = 8;
      for (int i = 0; i < 256; ++i) table.append(qRgb(i, i, i));
      break;
    case QImage::Format_RGB16:
      depth = 16;
      layout = Layout565();
      break;
    case QImage::Format_RGB555:
      depth = 16;
      layout = Layout555();
      break;
    case QImage::Format_RGB888:
    case QImage::Format_BGR888:
      depth = 24;
      break;
    default:
      break;
  }

  TDIB work(*this);
  work.ColorEntries = ColorEntries;
  if (depth <= 8) {
    work.ColorEntries.fill(0);
    for (int i = 0; i < 256 && i < table.size(); ++i)
      bmp::PutEntryColour(&work.ColorEntries[size_t(i) * 4], table[i]);
  }
  work.RequestedLayout = layout;
  work.Recreate(source.width(), source.height(), depth);
  work.CommitColors();  // a store kept at the same size still needs the colours
  std::memset(work.PixelData(), 0, size_t(work.ImageSize()));
  work.Surface().Draw(0, 0, source);
  Adopt(work);
}

void TDIB::CopyFrom(const TPicture& source) {
  const TPicture::Content& g = source.Graphic;
  if (const auto* dib = std::get_if<TDIB>(&g))
    CopyFrom(*dib);
  else if (const auto* image = std::get_if<QImage>(&g))
    CopyFrom(*image);
  else if (const auto* other = std::get_if<std::shared_ptr<const TGraphic>>(&g); other && *other)
    CopyFromGraphic(**other);
  else
    MakeEmpty();
}

void TDIB::CopyFrom(const TPersistent& source) {
  if (const auto* holder = dynamic_cast<const TPicture*>(&source)) {
    CopyFrom(*holder);
    return;
  }
  if (const auto* graphic = dynamic_cast<const TGraphic*>(&source)) {
    CopyFromGraphic(*graphic);
    return;
  }
  throw EConvertError(QString::asprintf("Cannot assign a %s to a %s.",
                                        source.ClassName().toUtf8().constData(), "TDIB"));
}

// Any other graphic becomes a 24-bit picture.  24-bit stores take only 8-8-8, so the
// layout is asked for here: a picture that held 16 bits would otherwise refuse it.
void TDIB::CopyFromGraphic(const TGraphic& source) {
  TDIB work(*this);
  work.ColorEntries = ColorEntries;
  work.RequestedLayout = Layout888();
  work.Recreate(source.Width(), source.Height(), 24);
  if (!work.IsEmpty()) {
    std::memset(work.PixelData(), 0, size_t(work.ImageSize()));
    source.Draw(work.Surface(), 0, 0);
  }
  Adopt(work);
}
