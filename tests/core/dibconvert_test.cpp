// Changing pictures as a whole: depth conversion between every pair of formats, and
// taking over other pictures with CopyFrom.

#include <gtest/gtest.h>

#include <QImage>
#include <cstring>

#include "bitmap/dib.h"
#include "common/byteio.h"
#include "common/errors.h"
#include "support/bmpbuilder.h"

namespace {

struct Format {
  int depth;
  ChannelLayout layout;
};
const Format kFormats[] = {{1, Layout888()},  {4, Layout888()},  {8, Layout888()},
                           {16, Layout555()}, {16, Layout565()}, {24, Layout888()},
                           {32, Layout888()}};

// Row y from the top, read without making the store private.
const uint8_t* Row(const TDIB& d, int y) {
  return d.ConstPixelData() + int64_t(d.PixelHeight() - 1 - y) * d.RowBytes();
}

QRgb ColourAt(const TDIB& d, int x, int y) {
  return d.ToImage().pixel(x, y);
}

// Converts and checks every pixel, and that the bits after the last pixel of each row
// are 0; then sets those bits, so that the next conversion meets junk there.
void ConvertAndCheck(TDIB& d, const Format& f, QRgb (*colour)(int, int)) {
  d.RequestedLayout = f.layout;
  d.ChangeBitDepth(f.depth);
  ASSERT_EQ(d.BitDepth(), f.depth);
  ASSERT_TRUE(d.CurrentLayout().SameMasks(f.layout));
  const int64_t used = int64_t(f.depth) * d.PixelWidth();
  const QImage image = d.ToImage();
  for (int y = 0; y < d.PixelHeight(); ++y) {
    for (int x = 0; x < d.PixelWidth(); ++x)
      ASSERT_EQ(image.pixel(x, y), colour(x, y)) << x << "," << y;
    for (int64_t bit = used; bit < d.RowBytes() * 8; ++bit) {
      ASSERT_EQ((Row(d, y)[bit >> 3] >> (7 - (bit & 7))) & 1, 0) << "padding of row " << y;
      d.RowAt(y)[bit >> 3] |= uint8_t(0x80 >> (bit & 7));
    }
  }
}

QRgb Corners(int x, int y) {  // every format from 4 bits up holds them exactly
  const int i = (x + 3 * y) % 8;
  return qRgb(i & 4 ? 255 : 0, i & 2 ? 255 : 0, i & 1 ? 255 : 0);
}
QRgb BlackWhite(int x, int y) {
  return (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
}

class TSquare : public TGraphic {
 public:
  QString ClassName() const override { return "TSquare"; }
  int Width() const override { return w; }
  int Height() const override { return h; }
  void Draw(TDIBCanvas& c, int x, int y) const override {
    c.FillRect(QRect(x + 1, y, w - 1, h), qRgb(10, 20, 30));
  }
  int w = 3, h = 2;
};

class TFoo : public TPersistent {
  QString ClassName() const override { return "TFoo"; }
};

}  // namespace

// Each pair of formats both ways, on widths whose rows end in padding.
TEST(DibConvertTest, RoundTripsBetweenEveryPairOfFormats) {
  for (const Format& a : kFormats) {
    for (const Format& b : kFormats) {
      if (&a == &b) continue;
      for (const int w : {1, 3, 5, 9}) {
        SCOPED_TRACE(testing::Message() << a.depth << "/" << a.layout.GreenBits << " <-> "
                                        << b.depth << "/" << b.layout.GreenBits << ", width " << w);
        auto colour = a.depth == 1 || b.depth == 1 ? BlackWhite : Corners;
        TDIB d;
        d.Recreate(w, 3, 32);
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < w; ++x) PutU32(d.RowAt(y) + 4 * x, colour(x, y) & 0xFFFFFF);
        ConvertAndCheck(d, a, colour);
        ConvertAndCheck(d, b, colour);
        ConvertAndCheck(d, a, colour);
      }
    }
  }
}

TEST(DibConvertTest, IndicesAndColoursCarriedOver) {
  // Widening copies indices, also of repeated colours that drawing would merge.
  TDIB d;
  d.Recreate(9, 2, 4);
  d.ColorEntries.fill(7);
  d.CommitColors();
  std::memset(d.PixelData(), 0x9E, size_t(d.ImageSize()));
  d.ChangeBitDepth(8);
  EXPECT_EQ(Row(d, 1)[7], 0xE);
  EXPECT_EQ(Row(d, 1)[8], 0x9);

  // To direct colour: the colour of each index, exactly.
  d.Recreate(16, 16, 8);
  for (int i = 0; i < 256; ++i)
    PutU32(&d.ColorEntries[size_t(i) * 4], uint32_t(i * 0x1D0D07) & 0xFFFFFF);
  d.CommitColors();
  for (int i = 0; i < 256; ++i) d.PixelData()[i] = uint8_t(i);
  d.ChangeBitDepth(24);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(ColourAt(d, i % 16, 15 - i / 16), (uint32_t(i * 0x1D0D07) & 0xFFFFFF) | 0xFF000000);

  // Reduced depths: the nearest of a fixed set (3-3-2 cube levels 36, 145, 85 here).
  d.Recreate(1, 1, 24);
  PutU32(d.PixelData(), 0x28965A);
  d.ChangeBitDepth(8);
  EXPECT_EQ(ColourAt(d, 0, 0), qRgb(36, 145, 85));

  // Run-length data as read from a file are decoded first.
  BmpSpec spec;
  spec.fileHeader = false;
  spec.width = 3;
  spec.compression = 1;
  spec.coloursUsed = 2;
  spec.colours = {0x000000, 0x112233};
  spec.pixels = QByteArray("\x03\x01\x00\x01", 4);  // 3 pixels of index 1
  d.FromClipboardData(BuildBmp(spec));
  ASSERT_TRUE(d.IsCompressed());
  d.ChangeBitDepth(24);
  EXPECT_EQ(ColourAt(d, 0, 0), qRgb(0x11, 0x22, 0x33));
  EXPECT_EQ(ColourAt(d, 2, 0), qRgb(0x11, 0x22, 0x33));
}

TEST(DibConvertTest, SameOrRefusedFormatLeavesPictureAsItWas) {
  TDIB d;
  for (const Format& f : kFormats) {
    d.RequestedLayout = f.layout;
    d.Recreate(3, 2, f.depth);
    const TDIB before = d;
    d.ChangeBitDepth(f.depth);
    EXPECT_TRUE(d.SharesStoreWith(before)) << f.depth;
  }
  const TDIB before = d;   // 32 bits
  d.ColorEntries[0] = 77;  // not yet committed: survives the failures
  EXPECT_THROW(d.ChangeBitDepth(2), EInvalidGraphicOperation);
  EXPECT_THROW(d.ChangeBitDepth(16), EInvalidGraphicOperation);  // asks for 8-8-8
  EXPECT_TRUE(d.SharesStoreWith(before));
  EXPECT_EQ(d.ColorEntries[0], 77);
}

TEST(DibConvertTest, CopyFromEveryKindOfSource) {
  TDIB a, b;
  a.Recreate(5, 3, 8);
  b.CopyFrom(TPicture(a));
  EXPECT_TRUE(b.SharesStoreWith(a));
  b.ColorEntries[0] = 1;
  b.CopyFrom(b);  // onto itself: nothing, not even the uncommitted colour
  EXPECT_EQ(b.ColorEntries[0], 1);
  b.CopyFrom(nullptr);
  EXPECT_TRUE(b.IsEmpty());

  // Another graphic: 24 bits drawn onto zeros, also into a picture that held 16 bits.
  b.RequestedLayout = Layout555();
  b.Recreate(3, 2, 16);
  b.CopyFrom(TPicture(std::make_shared<const TSquare>()));
  ASSERT_EQ(b.BitDepth(), 24);
  EXPECT_EQ(ColourAt(b, 0, 1), qRgb(0, 0, 0));
  EXPECT_EQ(ColourAt(b, 2, 1), qRgb(10, 20, 30));
  const TDIB before = b;
  try {
    b.CopyFrom(TFoo());
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TFoo to a TDIB.");
  }
  TSquare huge;
  huge.w = huge.h = 70000;
  EXPECT_THROW(b.CopyFrom(huge), EOutOfMemory);
  EXPECT_TRUE(b.SharesStoreWith(before));

  // QImages keep their depth, colour table and pixels.
  QImage mono(9, 1, QImage::Format_MonoLSB);
  mono.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255)});
  mono.fill(0);
  mono.setPixel(8, 0, 1);
  b.CopyFrom(mono);
  ASSERT_EQ(b.BitDepth(), 1);
  EXPECT_EQ(Row(b, 0)[1], 0x80);
  EXPECT_EQ(ColourAt(b, 0, 0), qRgb(255, 0, 0));

  QImage rgb16(3, 1, QImage::Format_RGB16);
  reinterpret_cast<quint16*>(rgb16.scanLine(0))[2] = 0x1234;
  b.CopyFrom(rgb16);
  EXPECT_TRUE(b.CurrentLayout().SameMasks(Layout565()));
  EXPECT_EQ(GetU16(Row(b, 0) + 4), 0x1234);

  // Fully transparent pixels end up 0 even where the picture held something.
  QImage argb(3, 1, QImage::Format_ARGB32);
  argb.fill(qRgba(0, 0, 0, 0));
  argb.setPixel(1, 0, qRgba(9, 8, 7, 255));
  b.RequestedLayout = Layout888();
  b.Recreate(3, 1, 32);
  std::memset(b.PixelData(), 0xFF, size_t(b.ImageSize()));
  b.CopyFrom(argb);
  EXPECT_EQ(GetU32(Row(b, 0)), 0u);
  EXPECT_EQ(ColourAt(b, 1, 0), qRgb(9, 8, 7));
}
