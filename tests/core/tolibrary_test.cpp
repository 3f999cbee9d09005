// Pictures turned into library records: stored width, padding, palette indices, row
// order, transparency and the reuse of the working bitmap.

#include "library/tolibrary.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cstring>
#include <random>

#include "common/errors.h"

namespace {

void SetEntry(TColorTable& t, int i, QRgb c) {
  t[size_t(i * 4)] = uint8_t(qBlue(c));
  t[size_t(i * 4 + 1)] = uint8_t(qGreen(c));
  t[size_t(i * 4 + 2)] = uint8_t(qRed(c));
  t[size_t(i * 4 + 3)] = 0;
}

QRgb Entry(const TColorTable& t, int i) {
  return qRgb(t[size_t(i * 4 + 2)], t[size_t(i * 4 + 1)], t[size_t(i * 4)]);
}

// Random colours, no exact black; entry 7 is the one nearest to black, and entry 40
// repeats entry 30 (the first of two equal entries wins).
TColorTable TestPalette() {
  std::mt19937 rng(5);
  TColorTable t{};
  for (int i = 0; i < 256; ++i)
    SetEntry(t, i, qRgb(40 + rng() % 216, 40 + rng() % 216, 40 + rng() % 216));
  SetEntry(t, 7, qRgb(3, 0, 2));
  SetEntry(t, 9, qRgb(100, 50, 25));
  SetEntry(t, 40, Entry(t, 30));
  return t;
}
constexpr int kNearBlack = 7;

// Stored row y counted from the top (rows are stored bottom row first).
const uint8_t* StoredRow(TDIB& work, int y) {
  return work.PixelData() + int64_t(work.PixelHeight() - 1 - y) * work.PixelWidth();
}

TEST(ToLibraryBitmap, RoundsTheWidthUpAndPadsWithTheColourNearestBlack) {
  const TColorTable palette = TestPalette();
  const struct {
    int w, stored;
  } cases[] = {{1, 4}, {2, 4}, {3, 4}, {4, 4}, {5, 8}, {8, 8}, {9, 12}};
  TDIB work;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.w);
    // Rows of different palette colours, so that the row order shows.
    QImage picture(c.w, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < c.w; ++x) picture.setPixel(x, y, Entry(palette, 100 + y));
    ToLibraryBitmap(work, palette, picture);
    ASSERT_EQ(work.BitDepth(), 8);
    ASSERT_EQ(work.PixelWidth(), c.stored);
    ASSERT_EQ(work.PixelHeight(), 3);
    ASSERT_EQ(work.ImageSize(), c.stored * 3);
    EXPECT_EQ(work.ColorEntries, palette);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < c.stored; ++x)
        EXPECT_EQ(StoredRow(work, y)[x], x < c.w ? 100 + y : kNearBlack) << x << "," << y;
    // The first stored bytes are the bottom row.
    EXPECT_EQ(work.PixelData()[0], 102);
  }
}

TEST(ToLibraryBitmap, ExactPaletteColoursKeepTheirIndicesFromEverySource) {
  const TColorTable palette = TestPalette();
  // One pixel per palette entry, in a 16 x 16 picture.
  QImage rgb(16, 16, QImage::Format_RGB32);
  for (int i = 0; i < 256; ++i) rgb.setPixel(i % 16, i / 16, Entry(palette, i));
  QImage indexed(16, 16, QImage::Format_Indexed8);
  QList<QRgb> table;
  for (int i = 0; i < 256; ++i) table << Entry(palette, 255 - i);
  indexed.setColorTable(table);
  for (int i = 0; i < 256; ++i) indexed.setPixel(i % 16, i / 16, uint(255 - i));
  TDIB dib24;
  dib24.CopyFrom(rgb.convertToFormat(QImage::Format_RGB888));
  ASSERT_EQ(dib24.BitDepth(), 24);

  const std::vector<std::pair<const char*, TPicture>> sources = {
      {"RGB32", TPicture(rgb)},
      {"ARGB32 opaque", TPicture(rgb.convertToFormat(QImage::Format_ARGB32))},
      {"RGB888", TPicture(rgb.convertToFormat(QImage::Format_RGB888))},
      {"Indexed8", TPicture(indexed)},
      {"TDIB 24-bit", TPicture(dib24)},
  };
  TDIB work;
  for (const auto& [name, picture] : sources) {
    SCOPED_TRACE(name);
    ToLibraryBitmap(work, palette, picture);
    ASSERT_EQ(work.PixelWidth(), 16);
    for (int i = 0; i < 256; ++i)
      ASSERT_EQ(StoredRow(work, i / 16)[i % 16], i == 40 ? 30 : i) << "entry " << i;
  }
}

TEST(ToLibraryBitmap, TransparencyIsBlendedOverBlack) {
  TColorTable palette = TestPalette();
  SetEntry(palette, 11, qRgb(200, 100, 50));
  QImage argb(3, 1, QImage::Format_ARGB32);
  argb.setPixel(0, 0, qRgba(200, 100, 50, 0));    // see-through: black
  argb.setPixel(1, 0, qRgba(200, 100, 50, 128));  // half: (100, 50, 25)
  argb.setPixel(2, 0, qRgba(200, 100, 50, 255));
  QImage indexed(3, 1, QImage::Format_Indexed8);
  indexed.setColorTable(
      {qRgba(200, 100, 50, 0), qRgba(200, 100, 50, 128), qRgba(200, 100, 50, 255)});
  for (int x = 0; x < 3; ++x) indexed.setPixel(x, 0, uint(x));
  for (const QImage& picture : {argb, indexed, argb.convertToFormat(QImage::Format_RGBA8888)}) {
    SCOPED_TRACE(picture.format());
    TDIB work;
    ToLibraryBitmap(work, palette, picture);
    const uint8_t* row = StoredRow(work, 0);
    EXPECT_EQ(row[0], kNearBlack);
    EXPECT_EQ(row[1], 9);
    EXPECT_EQ(row[2], 11);
    EXPECT_EQ(row[3], kNearBlack);
  }
}

TEST(ToLibraryBitmap, ReusesTheWorkingBitmapAndRefusesWhatNoRecordHolds) {
  const TColorTable palette = TestPalette();
  QImage a(6, 5, QImage::Format_RGB32), b(7, 5, QImage::Format_RGB32);
  a.fill(Entry(palette, 1));
  b.fill(Entry(palette, 2));
  TDIB work;
  ToLibraryBitmap(work, palette, a);
  const uint8_t* block = work.PixelData();
  ToLibraryBitmap(work, palette, b);  // same stored width, 8
  EXPECT_EQ(work.PixelData(), block);
  EXPECT_EQ(StoredRow(work, 4)[6], 2);

  // A record the reader would not show (over 2000 once the width is rounded up to 4):
  // refused, and work is left as it was.  2000 x 2000 is the largest shown.
  for (const QSize size : {QSize(2001, 1), QSize(1, 2001), QSize(kMaxRecordPictureWidth + 1, 1)}) {
    const QImage large(size, QImage::Format_RGB32);
    try {
      ToLibraryBitmap(work, palette, large);
      ADD_FAILURE() << "converted";
    } catch (const EPictureTooLarge& e) {
      EXPECT_EQ(e.Message(), QStringLiteral("the picture is %1 x %2; a library image can be at "
                                            "most 2000 x 2000")
                                 .arg(size.width())
                                 .arg(size.height()));
    }
    EXPECT_EQ(work.PixelWidth(), 8);
    EXPECT_EQ(StoredRow(work, 4)[6], 2);
  }
  TDIB largest;
  ToLibraryBitmap(largest, palette, QImage(1997, 2000, QImage::Format_RGB32));
  EXPECT_EQ(largest.PixelWidth(), 2000);

  // A work bitmap of another depth becomes 8-bit; an empty picture empties it.
  TDIB deep;
  deep.CopyFrom(QImage(2, 2, QImage::Format_RGB888));
  ToLibraryBitmap(deep, palette, a);
  EXPECT_EQ(deep.BitDepth(), 8);
  EXPECT_EQ(deep.PixelWidth(), 8);
  ToLibraryBitmap(deep, palette, TPicture());
  EXPECT_TRUE(deep.IsEmpty());
  // A picture converted into itself.
  ToLibraryBitmap(work, palette, a);
  ToLibraryBitmap(work, palette, work);
  EXPECT_EQ(work.PixelWidth(), 8);
  EXPECT_EQ(StoredRow(work, 0)[0], 1);
}

TEST(ToLibraryBitmap, PictureSizeOfEveryKind) {
  TDIB dib;
  dib.Recreate(3, 4, 8);
  EXPECT_EQ(PictureSize(TPicture(dib)), QSize(3, 4));
  EXPECT_EQ(PictureSize(TPicture(QImage(5, 6, QImage::Format_RGB32))), QSize(5, 6));
  EXPECT_EQ(PictureSize(TPicture(QImage())), QSize(0, 0));
  EXPECT_EQ(PictureSize(TPicture()), QSize(0, 0));
}

}  // namespace
