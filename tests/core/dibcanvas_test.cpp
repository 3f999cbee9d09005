// Drawing on pictures: nearest-colour mapping, source formats, clipping, transparency
// and filling.

#include <gtest/gtest.h>

#include <QImage>
#include <cstring>
#include <random>

#include "bitmap/dib.h"
#include "common/byteio.h"

namespace {

TDIB Indexed(int w, int h, int depth, const TColorTable& colours) {
  TDIB d;
  d.Recreate(w, h, depth);
  d.ColorEntries = colours;
  d.CommitColors();
  std::memset(d.PixelData(), 0, size_t(d.ImageSize()));
  return d;
}

TColorTable RandomTable(std::mt19937& rng) {
  TColorTable t{};
  for (int i = 0; i < 256; ++i)
    for (int c = 0; c < 3; ++c) t[size_t(i * 4 + c)] = uint8_t(rng());
  // Repeated colours: the first entry holding a colour must win.
  std::memcpy(&t[200 * 4], &t[20 * 4], 4);
  std::memcpy(&t[201 * 4], &t[0], 4);
  return t;
}

QRgb EntryColour(const TColorTable& t, int i) {
  return qRgb(t[size_t(i * 4 + 2)], t[size_t(i * 4 + 1)], t[size_t(i * 4)]);
}

// Nearest by squared distance, lowest index on ties.
int BruteNearest(const TColorTable& t, int count, QRgb c) {
  int best = 0, bestDistance = INT32_MAX;
  for (int i = 0; i < count; ++i) {
    const int dr = qRed(c) - t[size_t(i * 4 + 2)], dg = qGreen(c) - t[size_t(i * 4 + 1)],
              db = qBlue(c) - t[size_t(i * 4)];
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) bestDistance = d, best = i;
  }
  return best;
}

int IndexAt(TDIB& d, int x, int y) {
  const uint8_t* row = d.RowAt(y);
  switch (d.BitDepth()) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
      return (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4;
    default:
      return row[x];
  }
}

QImage RandomImage(std::mt19937& rng, int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.setPixel(x, y, 0xFF000000u | (rng() & 0xFFFFFF));
  return img;
}

}  // namespace

TEST(DibCanvasTest, NearestColourMatchesExhaustiveSearch) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 3; ++round) {
    const TColorTable table = RandomTable(rng);
    for (int depth : {8, 4, 1}) {
      const int count = 1 << depth;
      TDIB d = Indexed(96, 96, depth, table);
      QImage img = RandomImage(rng, 96, 96);
      // Every colour of the table appears too, some of them several times.
      for (int i = 0; i < count; ++i) img.setPixel(i % 96, 95 - i / 96, EntryColour(table, i));
      d.Surface().Draw(0, 0, img);
      for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x)
          ASSERT_EQ(IndexAt(d, x, y), BruteNearest(table, count, img.pixel(x, y)))
              << "depth " << depth << " at " << x << "," << y;
      EXPECT_EQ(IndexAt(d, 1, 95), 1);
      if (depth == 8) {
        EXPECT_EQ(IndexAt(d, 20, 95), 20);
        EXPECT_EQ(IndexAt(d, 8, 93), 20);  // entry 200 repeats entry 20
        EXPECT_EQ(IndexAt(d, 9, 93), 0);   // entry 201 repeats entry 0
      }
    }
  }
  // A grey-ramp picture keeps the greys of a greyscale image exactly.
  TDIB grey;
  grey.ChangeBitDepth(8);
  grey.ChangeWidth(256);
  QImage ramp(256, 1, QImage::Format_Grayscale8);
  for (int x = 0; x < 256; ++x) ramp.scanLine(0)[x] = uint8_t(x);
  grey.Surface().Draw(0, 0, ramp);
  for (int x = 0; x < 256; ++x) ASSERT_EQ(grey.RowAt(0)[x], x);
}

// A dense sweep of the colour cube (every fifth value of each channel, so that colours
// at every place in the boxes the mapping answers as a whole are among them), drawn twice: the
// second time from what the first remembered.  Palettes: random with repeats, clustered
// in a small region (many borders close together), and few entries (large regions).
TEST(DibCanvasTest, NearestColourOverTheWholeCube) {
  std::mt19937 rng(777);
  TColorTable clustered{};
  for (int i = 0; i < 256; ++i) {
    clustered[size_t(i * 4)] = uint8_t(100 + rng() % 24);
    clustered[size_t(i * 4 + 1)] = uint8_t(90 + rng() % 40);
    clustered[size_t(i * 4 + 2)] = uint8_t(120 + rng() % 16);
  }
  std::memcpy(&clustered[50 * 4], &clustered[10 * 4], 4);
  TColorTable few{};
  for (int c = 0; c < 3; ++c) few[size_t(4 + c)] = 255;  // entry 1 white, entry 0 black
  few[size_t(8 + 2)] = 128;                              // entry 2 dark red
  const struct {
    TColorTable table;
    int depth;
  } palettes[] = {{RandomTable(rng), 8}, {clustered, 8}, {few, 4}};
  QImage sweep(52 * 52, 52, QImage::Format_RGB32);
  for (int r = 0; r < 52; ++r)
    for (int g = 0; g < 52; ++g)
      for (int b = 0; b < 52; ++b) sweep.setPixel(g * 52 + b, r, qRgb(r * 5, g * 5, b * 5));
  for (const auto& p : palettes) {
    const int count = p.depth == 8 ? 256 : 16;
    TDIB first = Indexed(sweep.width(), sweep.height(), p.depth, p.table);
    first.Surface().Draw(0, 0, sweep);
    TDIB second = Indexed(sweep.width(), sweep.height(), p.depth, p.table);
    second.Surface().Draw(0, 0, sweep);
    for (int y = 0; y < sweep.height(); ++y)
      for (int x = 0; x < sweep.width(); ++x) {
        const int want = BruteNearest(p.table, count, sweep.pixel(x, y));
        ASSERT_EQ(IndexAt(first, x, y), want) << std::hex << sweep.pixel(x, y);
        ASSERT_EQ(IndexAt(second, x, y), want) << std::hex << sweep.pixel(x, y);
      }
  }
}

TEST(DibCanvasTest, SourceFormatsGiveTheSameIndices) {
  std::mt19937 rng(7);
  const TColorTable table = RandomTable(rng);
  // Colours a 5-6-5 image holds exactly, so that every format carries the same ones.
  QImage base(40, 30, QImage::Format_RGB32);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const int r = int(rng() & 31), g = int(rng() & 63), b = int(rng() & 31);
      base.setPixel(x, y, qRgb((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2)));
    }
  TDIB reference = Indexed(40, 30, 8, table);
  reference.Surface().Draw(0, 0, base);

  QImage indexed(40, 30, QImage::Format_Indexed8);
  QVector<QRgb> colours;
  for (int i = 0; i < 256; ++i) colours.push_back(EntryColour(table, i));
  indexed.setColorTable(colours);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) indexed.setPixel(x, y, uint(rng() & 0xFF));
  TDIB fromIndexed = Indexed(40, 30, 8, table);
  fromIndexed.Surface().Draw(0, 0, indexed);
  TDIB fromIndexedAsRgb = Indexed(40, 30, 8, table);
  fromIndexedAsRgb.Surface().Draw(0, 0, indexed.convertToFormat(QImage::Format_RGB32));

  for (QImage::Format f : {QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
                           QImage::Format_RGB888, QImage::Format_BGR888, QImage::Format_RGB16,
                           QImage::Format_RGBA8888, QImage::Format_RGB30}) {
    TDIB d = Indexed(40, 30, 8, table);
    d.Surface().Draw(0, 0, base.convertToFormat(f));
    EXPECT_EQ(std::memcmp(d.ConstPixelData(), reference.ConstPixelData(), size_t(d.ImageSize())), 0)
        << "format " << f;
  }
  EXPECT_EQ(std::memcmp(fromIndexed.ConstPixelData(), fromIndexedAsRgb.ConstPixelData(),
                        size_t(fromIndexed.ImageSize())),
            0);

  // Pictures of every depth drawn as pictures and as QImages agree.
  for (int depth : {1, 4, 8, 16, 24, 32}) {
    TDIB source;
    source.RequestedLayout = depth == 16 ? Layout565() : Layout888();
    source.Recreate(40, 30, depth);
    source.ColorEntries = table;
    source.CommitColors();
    for (int64_t i = 0; i < source.ImageSize(); ++i) source.PixelData()[i] = uint8_t(rng());
    TDIB direct = Indexed(40, 30, 8, table), viaImage = Indexed(40, 30, 8, table);
    direct.Surface().Draw(0, 0, source);
    viaImage.Surface().Draw(0, 0, source.ToImage());
    EXPECT_EQ(
        std::memcmp(direct.ConstPixelData(), viaImage.ConstPixelData(), size_t(direct.ImageSize())),
        0)
        << "depth " << depth;
  }
}

TEST(DibCanvasTest, DrawingIsClippedAndTransparencyRespected) {
  TColorTable table{};
  for (int i = 0; i < 256; ++i) table[size_t(i * 4 + 2)] = uint8_t(i);  // reds
  TDIB d = Indexed(5, 4, 8, table);
  d.Surface().FillRect(QRect(0, 0, 5, 4), qRgb(9, 0, 0));
  QImage img(3, 3, QImage::Format_RGB32);
  img.fill(qRgb(100, 0, 0));
  d.Surface().Draw(-1, -2, img);  // covers (0..1, 0)
  d.Surface().Draw(4, 3, img);    // covers (4, 3)
  d.Surface().Draw(5, 0, img);    // outside
  d.Surface().Draw(INT32_MAX, INT32_MIN, img);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) {
      const bool covered = (y == 0 && x <= 1) || (y == 3 && x == 4);
      EXPECT_EQ(d.RowAt(y)[x], covered ? 100 : 9) << x << "," << y;
    }

  TDIB rgb;
  rgb.Recreate(3, 1, 24);
  rgb.Surface().FillRect(QRect(0, 0, 3, 1), qRgb(0, 0, 200));
  QImage alpha(3, 1, QImage::Format_ARGB32);
  alpha.setPixel(0, 0, qRgba(255, 255, 255, 0));
  alpha.setPixel(1, 0, qRgba(100, 50, 0, 255));
  alpha.setPixel(2, 0, qRgba(255, 0, 0, 51));
  rgb.Surface().Draw(0, 0, alpha);
  const uint8_t* p = rgb.RowAt(0);
  EXPECT_EQ((std::vector<uint8_t>(p, p + 9)),
            (std::vector<uint8_t>{200, 0, 0, 0, 50, 100, 160, 0, 51}));

  // Transparent entries of an indexed image leave the picture as it was.
  QImage masked(2, 1, QImage::Format_Indexed8);
  masked.setColorTable({qRgba(0, 0, 0, 0), qRgb(40, 0, 0)});
  masked.setPixel(0, 0, 0);
  masked.setPixel(1, 0, 1);
  d.Surface().Draw(0, 1, masked);
  EXPECT_EQ(d.RowAt(1)[0], 9);
  EXPECT_EQ(d.RowAt(1)[1], 40);

  // A picture drawn onto itself reads what it held before.
  TDIB self = Indexed(4, 1, 8, table);
  for (int x = 0; x < 4; ++x) self.RowAt(0)[x] = uint8_t(x + 1);
  const TDIB before = self;
  self.Surface().Draw(1, 0, self);
  EXPECT_EQ((std::vector<uint8_t>(self.RowAt(0), self.RowAt(0) + 4)),
            (std::vector<uint8_t>{1, 1, 2, 3}));
  EXPECT_EQ(before.ConstPixelData()[1], 2);
}

TEST(DibCanvasTest, FillRectAtEveryDepth) {
  TColorTable table{};
  for (int i = 0; i < 256; ++i) table[size_t(i * 4 + 1)] = uint8_t(255 - i);  // greens
  table[7 * 4 + 1] = 0;  // black appears at 7 and at 255
  TDIB d8 = Indexed(6, 3, 8, table);
  d8.Surface().FillRect(QRect(-3, 1, 100, 100), qRgb(0, 0, 0));
  EXPECT_EQ(d8.RowAt(0)[0], 0);
  EXPECT_EQ(d8.RowAt(1)[5], 7);
  EXPECT_EQ(d8.RowAt(2)[0], 7);
  d8.Surface().FillRect(QRect(0, 0, 6, 1), 0);  // black given without alpha still fills
  EXPECT_EQ(d8.RowAt(0)[3], 7);
  d8.Surface().FillRect(QRect(0, 0, 2, 1), qRgb(0, 130, 0));  // nearest: 255 - 130 = 125
  EXPECT_EQ(d8.RowAt(0)[1], 125);

  TDIB d1 = Indexed(12, 1, 1, table);  // entries 0 (green 255) and 1 (green 254)
  d1.Surface().FillRect(QRect(1, 0, 9, 1), qRgb(0, 250, 0));
  EXPECT_EQ(d1.RowAt(0)[0], 0x7F);
  EXPECT_EQ(d1.RowAt(0)[1], 0xC0);
  TDIB d4 = Indexed(5, 1, 4, table);
  d4.Surface().FillRect(QRect(1, 0, 3, 1), qRgb(0, 250, 0));  // entry 5
  EXPECT_EQ(d4.RowAt(0)[0], 0x05);
  EXPECT_EQ(d4.RowAt(0)[1], 0x55);
  EXPECT_EQ(d4.RowAt(0)[2], 0x00);

  TDIB d16;
  d16.RequestedLayout = Layout565();
  d16.Recreate(2, 1, 16);
  d16.Surface().FillRect(QRect(0, 0, 2, 1), qRgb(255, 0, 8));
  EXPECT_EQ(GetU16(d16.RowAt(0) + 2), 0xF801);
  TDIB d24;
  d24.Recreate(2, 1, 24);
  d24.Surface().FillRect(QRect(1, 0, 1, 1), qRgb(1, 2, 3));
  EXPECT_EQ(d24.RowAt(0)[3], 3);
  EXPECT_EQ(d24.RowAt(0)[5], 1);
  TDIB d32;
  d32.Recreate(2, 1, 32);
  d32.Surface().FillRect(QRect(0, 0, 2, 1), qRgb(1, 2, 3));
  EXPECT_EQ(GetU32(d32.RowAt(0) + 4), 0x010203u);

  // Drawing into packed pictures writes each colour in the picture's layout.
  QImage img(1, 1, QImage::Format_RGB32);
  img.setPixel(0, 0, qRgb(0, 255, 0));
  d16.Surface().Draw(1, 0, img);
  EXPECT_EQ(GetU16(d16.RowAt(0) + 2), 0x07E0);
  d32.Surface().Draw(0, 0, img);
  EXPECT_EQ(GetU32(d32.RowAt(0)), 0x00FF00u);

  TDIB empty;
  empty.Surface().FillRect(QRect(0, 0, 5, 5), qRgb(1, 1, 1));
  empty.Surface().Draw(0, 0, img);
  EXPECT_TRUE(empty.IsEmpty());
}
