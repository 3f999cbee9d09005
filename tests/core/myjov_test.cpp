#include "library/myjov.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "common/errors.h"
#include "library/jovformat.h"
#include "support/libbuilder.h"

namespace {

class JovTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;

  // Writes the builder's files and opens them.
  TOpenResult OpenBuilt(TJOV& jov, const LibraryBuilder& b, const QString& name = "lib") {
    return jov.Open(b.Write(dir.path(), name));
  }

  static QRgb PaletteColour(const LibraryBuilder& b, int i) {
    return qRgb(b.palette[i * 4 + 2], b.palette[i * 4 + 1], b.palette[i * 4]);
  }
};

// Rows bottom row first, as stored.
std::vector<uint8_t> Ramp(int w, int h, int start = 1) {
  std::vector<uint8_t> v(size_t(w * h));
  for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t(start + i);
  return v;
}

TEST_F(JovTest, RecognisesTheThreeVariantsByTitleAndLengthByte) {
  {
    LibraryBuilder b(0);
    b.Add8(4, 1, 0, 0, Ramp(4, 1));
    TJOV jov;
    ASSERT_EQ(OpenBuilt(jov, b, "t0"), TOpenResult::Opened);
    EXPECT_EQ(int(jov.FileType()), 0);
    EXPECT_EQ(jov.OffSet(), 0);
    EXPECT_EQ(jov.ImageCount(), 1);
    EXPECT_EQ(TypeLabel(int(jov.FileType()), jov.OffSet()), QStringLiteral("VARN   数据格式(1)"));
  }
  {
    LibraryBuilder b(1);
    b.Add8(4, 1, 3, 4, Ramp(4, 1));
    TJOV jov;
    ASSERT_EQ(OpenBuilt(jov, b, "t1"), TOpenResult::Opened);
    EXPECT_EQ(int(jov.FileType()), 1);
    EXPECT_EQ(jov.OffSet(), 4);
    EXPECT_EQ(TypeLabel(int(jov.FileType()), jov.OffSet()), QStringLiteral("VARN   数据格式(2)"));
  }
  {
    LibraryBuilder b(2);
    b.Add16(1, 1, 0, 0, {});
    TJOV jov;
    ASSERT_EQ(OpenBuilt(jov, b, "t2"), TOpenResult::Opened);
    EXPECT_EQ(int(jov.FileType()), 2);
    EXPECT_EQ(TypeLabel(int(jov.FileType()), jov.OffSet()), QStringLiteral("OLM   数据格式(1)"));
  }
  // One character off, or the right text under the wrong length byte: not a library.
  for (int variant = 0; variant < 4; ++variant) {
    LibraryBuilder b(0);
    b.Add8(4, 1, 0, 0, Ramp(4, 1));
    QByteArray data = b.Data();
    if (variant == 0) data[10] = 'x';
    if (variant == 1) data[0] = 34;
    if (variant == 2) data[0] = 36;
    if (variant == 3) data.truncate(20);
    const QString path = dir.filePath(QStringLiteral("bad%1.jov").arg(variant));
    WriteFileBytes(path, data);
    TJOV jov;
    EXPECT_EQ(jov.Open(path), TOpenResult::NotLibrary) << variant;
    EXPECT_FALSE(jov.IsOpen());
  }
  // The 16-bit title must end at byte 18.
  LibraryBuilder b(2);
  QByteArray data = b.Data();
  data[18] = 'X';
  WriteFileBytes(dir.filePath("bad16.jov"), data);
  TJOV jov;
  EXPECT_EQ(jov.Open(dir.filePath("bad16.jov")), TOpenResult::NotLibrary);
}

TEST_F(JovTest, OpenReportsMissingFilesAndEmptyNames) {
  TJOV jov;
  try {
    jov.Open(QString());
    FAIL();
  } catch (const EJovError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("FileName not assigned.."));
  }
  EXPECT_EQ(jov.Open(dir.filePath("nothing.jov")), TOpenResult::Missing);
  EXPECT_FALSE(jov.IsOpen());
  EXPECT_EQ(TJOV::MissingFileMessage(jov.FileName()), jov.FileName() + QStringLiteral(" 不存在."));
}

TEST_F(JovTest, VariantOneTitleFallsBackToLayoutZeroUnlessFirstEntryIs1084) {
  // A variant 1 title over the variant 0 layout (entries at 48, palette at 56).
  LibraryBuilder b(0);
  b.palette[4 * 5 + 2] = 0x77;
  b.Add8(4, 2, -1, 2, Ramp(4, 2));
  QByteArray data = b.Data();
  QByteArray title(44, '\0');
  title[0] = 25;
  title.replace(1, 25, "TALVEN Entertainment inc.");
  data.replace(0, 44, title);
  WriteFileBytes(dir.filePath("fallback.jov"), data);
  WriteFileBytes(dir.filePath("fallback.JOX"), b.Index());
  TJOV jov;
  ASSERT_EQ(jov.Open(dir.filePath("fallback.jov")), TOpenResult::Opened);
  EXPECT_EQ(int(jov.FileType()), 0);
  EXPECT_EQ(jov.OffSet(), 0);
  EXPECT_EQ(jov.Palette()[4 * 5 + 2], 0x77);
  const QImage* img = jov.ImageAt(0);
  EXPECT_EQ(img->size(), QSize(4, 2));
  EXPECT_EQ(jov.px(), -1);

  // Index count 0: the first entry in memory is the extra 0, so the layout is variant 0.
  LibraryBuilder empty(1);
  TJOV jov2;
  ASSERT_EQ(OpenBuilt(jov2, empty, "empty1"), TOpenResult::Opened);
  EXPECT_EQ(int(jov2.FileType()), 0);
  EXPECT_EQ(jov2.ImageCount(), 0);
}

TEST_F(JovTest, VariantOneReadsPaletteAt60AndTwelveByteImageHeaders) {
  LibraryBuilder b(1);
  b.palette[4 * 9] = 0x42;
  b.Add8(4, 2, -7, 300, Ramp(4, 2, 10));
  TJOV jov;
  ASSERT_EQ(OpenBuilt(jov, b), TOpenResult::Opened);
  ASSERT_EQ(int(jov.FileType()), 1);
  EXPECT_EQ(jov.Palette()[4 * 9], 0x42);
  const QImage* img = jov.ImageAt(0);
  ASSERT_EQ(img->size(), QSize(4, 2));
  // Bottom row first in the file: the top row is the second stored row.
  EXPECT_EQ(img->pixelIndex(0, 0), 14);
  EXPECT_EQ(img->pixelIndex(3, 1), 13);
  EXPECT_EQ(jov.px(), -7);
  EXPECT_EQ(jov.py(), 300);
  EXPECT_EQ(img->color(14), PaletteColour(b, 14));
}

TEST_F(JovTest, FetchesEightBitImagesWithPlacementsAndTheRowRule) {
  LibraryBuilder b(0);
  b.Add8(8, 3, -5, 7, Ramp(8, 3));
  // Width 6: another tool's record; rows are read one by one and padded with black.
  b.Add8(6, 2, 1, 2, Ramp(6, 2, 100));
  TJOV jov;
  ASSERT_EQ(OpenBuilt(jov, b), TOpenResult::Opened);

  const QImage* first = jov.ImageAt(0);
  EXPECT_EQ(first->format(), QImage::Format_Indexed8);
  EXPECT_EQ(jov.Width(), 8);
  EXPECT_EQ(jov.Height(), 3);
  EXPECT_EQ(jov.px(), -5);
  EXPECT_EQ(jov.py(), 7);
  EXPECT_EQ(first->pixelIndex(0, 2), 1);   // first stored byte: bottom-left
  EXPECT_EQ(first->pixelIndex(7, 0), 24);  // last stored byte: top-right

  const QImage* second = jov.ImageAt(1);
  EXPECT_EQ(second, first) << "one shared output bitmap";
  EXPECT_EQ(jov.Width(), 8);
  EXPECT_EQ(jov.Height(), 2);
  EXPECT_EQ(second->pixelIndex(0, 1), 100);
  EXPECT_EQ(second->pixelIndex(5, 1), 105);
  EXPECT_EQ(second->pixelIndex(0, 0), 106);
  EXPECT_EQ(second->pixelIndex(6, 0), 0);  // padding: the black entry
  EXPECT_EQ(second->pixelIndex(7, 1), 0);
}

TEST_F(JovTest, IndexesOutsideTheLibraryGiveOnePixelAndKeepProperties) {
  LibraryBuilder b(0);
  b.Add8(4, 2, 9, -9, Ramp(4, 2));
  TJOV jov;
  ASSERT_EQ(OpenBuilt(jov, b), TOpenResult::Opened);
  jov.ImageAt(0);
  for (int index : {-1, 1, 1000000}) {
    const QImage* img = jov.ImageAt(index);
    EXPECT_EQ(img->size(), QSize(1, 1));
    EXPECT_EQ(jov.Width(), 4);
    EXPECT_EQ(jov.Height(), 2);
    EXPECT_EQ(jov.px(), 9);
    EXPECT_EQ(jov.py(), -9);
  }
  jov.SetLibType(ltLoadMemory);
  EXPECT_EQ(jov.ImageAt(0), nullptr);
}

TEST_F(JovTest, OversizedRecordsKeepThePreviousPictureButShowTheirPlacement) {
  LibraryBuilder b(0);
  b.Add8(4, 2, 1, 1, Ramp(4, 2));
  b.Add8(2004, 1, 33, 44, std::vector<uint8_t>(2004, 7));
  LibraryBuilder b16(2);
  b16.Add16(2, 2, 0, 0, {});
  b16.Add16(1001, 1, 5, 6, {});
  TJOV jov;
  ASSERT_EQ(OpenBuilt(jov, b), TOpenResult::Opened);
  jov.ImageAt(0);
  const QImage* img = jov.ImageAt(1);
  EXPECT_EQ(img->size(), QSize(4, 2));
  EXPECT_EQ(jov.Width(), 4);
  EXPECT_EQ(jov.px(), 33);
  EXPECT_EQ(jov.py(), 44);
  TJOV jov16;
  ASSERT_EQ(OpenBuilt(jov16, b16, "w16"), TOpenResult::Opened);
  jov16.ImageAt(0);
  EXPECT_EQ(jov16.ImageAt(1)->size(), QSize(2, 2));
  EXPECT_EQ(jov16.px(), 5);
}

TEST_F(JovTest, DamagedIndexesAndRecordsShowAsEmptyPictures) {
  LibraryBuilder b(0);
  const int32_t good = b.Add8(4, 1, 1, 2, Ramp(4, 1));
  b.AddEntry(-8);              // 1: negative
  b.AddEntry(1 << 30);         // 2: past the end of the file
  b.AddEntry(b.NextOffset());  // 3: header cut by the end of the file
  b.AddBytes(QByteArray("\x04\x00", 2));
  b.dataCount = 7;  // 4..6: more images than index entries
  TJOV jov;
  ASSERT_EQ(OpenBuilt(jov, b), TOpenResult::Opened);
  EXPECT_EQ(jov.ImageCount(), 7);
  EXPECT_EQ(jov.ImageAt(0)->size(), QSize(4, 1));
  for (int i = 1; i < 7; ++i) {
    EXPECT_TRUE(jov.ImageAt(i)->isNull()) << i;
    EXPECT_EQ(jov.Width(), 0);
    EXPECT_EQ(jov.Height(), 0);
  }
  EXPECT_EQ(*jov.EntryOf(0), good);
  EXPECT_FALSE(jov.EntryOf(4).has_value());

  // Records of zero, negative and truncated sizes.
  LibraryBuilder c(0);
  c.Add8(0, 5, 1, 1, {});
  c.Add8(-4, 5, 2, 2, {});
  c.Add8(4, -1, 3, 3, {});
  c.Add8(100, 100, 4, 4, Ramp(10, 1));  // pixels past the end of the file
  TJOV jov2;
  ASSERT_EQ(OpenBuilt(jov2, c, "sizes"), TOpenResult::Opened);
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(jov2.ImageAt(i)->isNull()) << i;
    EXPECT_EQ(jov2.px(), i + 1) << "the header was read";
  }
}

TEST_F(JovTest, HostileCountsAreBoundedByTheFiles) {
  LibraryBuilder b(0);
  b.Add8(4, 1, 0, 0, Ramp(4, 1));
  b.indexCount = 0x7FFFFFFF;  // far more entries than the index file holds
  b.dataCount = -3;
  TJOV jov;
  ASSERT_EQ(OpenBuilt(jov, b), TOpenResult::Opened);
  EXPECT_EQ(jov.ImageCount(), 0);
  EXPECT_EQ(jov.IndexEntries().size(), 2u);

  LibraryBuilder b16(2);
  b16.Add16(1, 1, 0, 0, {});
  b16.indexCount = 1 << 30;
  TJOV jov16;
  ASSERT_EQ(OpenBuilt(jov16, b16, "h16"), TOpenResult::Opened);
  EXPECT_EQ(jov16.ImageCount(), 1);
}

TEST_F(JovTest, MissingIndexLeavesTheHeaderCountAndNoImages) {
  LibraryBuilder b(0);
  b.Add8(4, 1, 0, 0, Ramp(4, 1));
  b.Add8(4, 1, 0, 0, Ramp(4, 1));
  const QString path = b.Write(dir.path(), "noindex");
  QFile::remove(dir.filePath("noindex.JOX"));
  TJOV jov;
  ASSERT_EQ(jov.Open(path), TOpenResult::Opened);
  EXPECT_EQ(jov.ImageCount(), 2);
  EXPECT_TRUE(jov.IndexEntries().empty());
  EXPECT_TRUE(jov.ImageAt(1)->isNull());

  // An index named in another case is found.
  QFile::rename(dir.filePath("lib.JOX"), dir.filePath("lib.jox"));
  LibraryBuilder c(0);
  c.Add8(4, 1, 0, 0, Ramp(4, 1));
  const QString p2 = c.Write(dir.path(), "lower");
  QFile::rename(dir.filePath("lower.JOX"), dir.filePath("lower.jox"));
  TJOV jov2;
  ASSERT_EQ(jov2.Open(p2), TOpenResult::Opened);
  EXPECT_EQ(jov2.IndexFileName(), dir.filePath("lower.jox"));
  EXPECT_EQ(jov2.ImageAt(0)->size(), QSize(4, 1));

  // A 16-bit library without an index has no images, whatever was open before.
  LibraryBuilder d(2);
  d.Add16(1, 1, 0, 0, {});
  const QString p3 = d.Write(dir.path(), "noindex16");
  QFile::remove(dir.filePath("noindex16.JOX"));
  jov2.Close();
  ASSERT_EQ(jov2.Open(p3), TOpenResult::Opened);
  EXPECT_EQ(jov2.ImageCount(), 0);
}

TEST_F(JovTest, CloseKeepsTheCountAndReopenReloads) {
  LibraryBuilder b(0);
  b.Add8(4, 1, 0, 0, Ramp(4, 1));
  b.Add8(4, 1, 0, 0, Ramp(4, 1));
  TJOV jov;
  ASSERT_EQ(OpenBuilt(jov, b), TOpenResult::Opened);
  jov.Close();
  EXPECT_FALSE(jov.IsOpen());
  EXPECT_EQ(jov.ImageCount(), 2);
  EXPECT_TRUE(jov.IndexEntries().empty());
  EXPECT_TRUE(jov.ImageAt(0)->isNull()) << "nothing is read from a closed library";
  ASSERT_EQ(jov.Open(jov.FileName()), TOpenResult::Opened);
  EXPECT_EQ(jov.ImageAt(1)->size(), QSize(4, 1));
}

TEST_F(JovTest, LibrariesBeyond65537ImagesKeepEveryPlacement) {
  LibraryBuilder b(0);
  const int n = 70000;
  for (int i = 0; i < n; ++i) b.Add8(4, 1, int16_t(i % 30000), int16_t(-(i % 1000)), Ramp(4, 1));
  TJOV jov;
  ASSERT_EQ(OpenBuilt(jov, b), TOpenResult::Opened);
  ASSERT_EQ(jov.ImageCount(), n);
  for (int i : {0, 65536, 65537, 69999}) {
    jov.ImageAt(i);
    EXPECT_EQ(jov.px(), i % 30000);
    EXPECT_EQ(jov.py(), -(i % 1000));
    EXPECT_EQ(jov.PxTable(i), i % 30000);
  }
}

TEST_F(JovTest, SixteenBitLibrariesSkipLeadingNegativeEntries) {
  LibraryBuilder b(2);
  b.AddEntry(-1);
  b.AddEntry(-5);
  b.AddEntry(-100);
  b.Add16(2, 1, 4, -4, RowRecord({}) /* leading extra record */);
  b.AddEntry(0);   // an empty image
  b.AddEntry(-2);  // negative after the leading run: also empty
  TJOV jov;
  ASSERT_EQ(OpenBuilt(jov, b), TOpenResult::Opened);
  EXPECT_EQ(jov.OffSet(), 3);
  EXPECT_EQ(jov.ImageCount(), 3);
  EXPECT_EQ(TypeLabel(int(jov.FileType()), jov.OffSet()), QStringLiteral("OLM   数据格式(2)"));
  EXPECT_EQ(jov.ImageAt(0)->size(), QSize(2, 1));
  EXPECT_EQ(jov.px(), 4);
  EXPECT_EQ(jov.ImageAt(1)->size(), QSize(0, 0));
  EXPECT_EQ(jov.px(), 0) << "an empty entry does not touch the tables";
  EXPECT_EQ(jov.PxTable(0), 4);
  EXPECT_EQ(jov.ImageAt(2)->size(), QSize(0, 0));

  // Every entry negative: no images.
  LibraryBuilder all(2);
  all.AddEntry(-1);
  all.AddEntry(-1);
  TJOV jov2;
  ASSERT_EQ(OpenBuilt(jov2, all, "allneg"), TOpenResult::Opened);
  EXPECT_EQ(jov2.ImageCount(), 0);
  EXPECT_EQ(jov2.OffSet(), 2);
}

// 16-bit pictures as RGB565 values, top row first.
std::vector<std::vector<quint16>> Pixels16(const QImage& img) {
  std::vector<std::vector<quint16>> rows;
  for (int y = 0; y < img.height(); ++y) {
    auto* p = reinterpret_cast<const quint16*>(img.constScanLine(y));
    rows.emplace_back(p, p + img.width());
  }
  return rows;
}

std::vector<uint16_t> Concat(std::initializer_list<std::vector<uint16_t>> parts) {
  std::vector<uint16_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST_F(JovTest, DecodesRunCodedRowsWithClippingAndBothRowMappings) {
  LibraryBuilder b(2);
  // Height + 1 row records: the first is not shown.
  b.Add16(4, 2, 0, 0,
          Concat({RowRecord({0xC1, 1, 0xFFFF}), RowRecord({0xC0, 1, 0xC1, 2, 0xF800, 0x07E0}),
                  RowRecord({0xC2, 6, 1, 2, 3, 4, 5, 6})}));  // clipped at the right edge
  // Height row records: record r is row r.
  b.Add16(3, 2, 0, 0,
          Concat({RowRecord({0xC3, 3, 7, 8, 9}), RowRecord({0xC0, 3, 0xC2, 2, 1, 1, 0xC1, 1, 5})}));
  // A run that starts exactly at the width stores nothing; an unknown code ends the row.
  b.Add16(2, 2, 0, 0,
          Concat({RowRecord({0xC0, 2, 0xC2, 1, 0x1234, 0xC1, 1, 0x1111}),
                  RowRecord({0xC1, 1, 0x2222, 0x99, 0xC1, 1, 0x3333})}));
  // Pixel words past the end of the file: empty picture.
  b.Add16(2, 2, 0, 0, RowRecord({0xC1, 2, 1, 1}), 5000);
  // Runs that claim more words than there are.
  b.Add16(2, 1, 0, 0, {9, 0xC1, 40000, 0xABCD});
  TJOV jov;
  ASSERT_EQ(OpenBuilt(jov, b), TOpenResult::Opened);

  const QImage* img = jov.ImageAt(0);
  ASSERT_EQ(img->format(), QImage::Format_RGB16);
  using Rows = std::vector<std::vector<quint16>>;
  EXPECT_EQ(Pixels16(*img), (Rows{{0, 0xF800, 0x07E0, 0}, {1, 2, 3, 4}}));
  EXPECT_EQ(Pixels16(*jov.ImageAt(1)), (Rows{{7, 8, 9}, {0, 0, 0}}));
  EXPECT_EQ(Pixels16(*jov.ImageAt(2)), (Rows{{0, 0}, {0x2222, 0}}));
  EXPECT_TRUE(jov.ImageAt(3)->isNull());
  EXPECT_EQ(Pixels16(*jov.ImageAt(4)), (Rows{{0xABCD, 0}}));
}

TEST_F(JovTest, PlacementWritersChangeOnlyTheFirstPair) {
  LibraryBuilder b(1);
  b.Add8(4, 1, 1, 2, Ramp(4, 1));
  TJOV jov;
  ASSERT_EQ(OpenBuilt(jov, b), TOpenResult::Opened);
  EXPECT_TRUE(jov.SetImagePx(0, -300));
  EXPECT_TRUE(jov.SetImagePy(0, 32767));
  EXPECT_TRUE(jov.SetImagePx(5, 1));  // no such image: nothing written
  EXPECT_TRUE(jov.SetImagePx(-1, 1));
  EXPECT_EQ(jov.PxTable(0), 0) << "the tables follow the next fetch";
  jov.ImageAt(0);
  EXPECT_EQ(jov.px(), -300);
  EXPECT_EQ(jov.py(), 32767);
  jov.Close();
  QFile f(jov.FileName());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray data = f.readAll();
  const int rec = 1084;
  EXPECT_EQ(data.mid(rec + 4, 8), QByteArray("\xD4\xFE\xFF\x7F\x01\x00\x02\x00", 8));
  EXPECT_EQ(data.size(), b.Data().size());
  TJOV closed;
  EXPECT_TRUE(closed.SetImagePx(0, 1));
}

TEST(JovPaths, BaseNameCutsAtTheFirstOccurrenceOfTheExtension) {
  EXPECT_EQ(BaseNameOf("/x/Tiles.jov"), "Tiles");
  EXPECT_EQ(BaseNameOf("/x/a.jov.jov"), "a");
  EXPECT_EQ(BaseNameOf("/x.d/noext"), "noext");
  EXPECT_EQ(BaseNameOf("/x/a.b.c"), "a.b");
  EXPECT_EQ(IndexPathOf("/nowhere/a.jov.jov"), "/nowhere/a.JOX");
}

}  // namespace
