#include "editing/exchange.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "common/errors.h"
#include "common/operation.h"
#include "editing/export.h"
#include "library/myjov.h"
#include "support/libbuilder.h"

namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(PlacementFile, IsTwoDecimalLinesEndedByCrLf) {
  EXPECT_EQ(PlacementFileBytes(-12, 40), QByteArray("\x2D\x31\x32\x0D\x0A\x34\x30\x0D\x0A"));
  EXPECT_EQ(PlacementFileBytes(-5, 0), QByteArray("-5\r\n0\r\n"));
  EXPECT_EQ(PlacementFileBytes(-32768, 32767), QByteArray("-32768\r\n32767\r\n"));
  EXPECT_EQ(ExchangeBitmapName(0), "000000.bmp");
  EXPECT_EQ(ExchangeBitmapName(1234), "001234.bmp");
  EXPECT_EQ(ExchangeBitmapName(1000000), "1000000.bmp");
  EXPECT_EQ(PlacementFileName(1234567), "1234567.txt");
  EXPECT_EQ(PlacementPathFor("/a/b/My.Pic.BMP"), "/a/b/Placements/My.Pic.txt");
  EXPECT_EQ(WithTrailingSeparator("/a/"), "/a/");
  EXPECT_EQ(WithTrailingSeparator("/a"), "/a/");
}

TEST(PlacementFile, ReadingSplitsAtCrLfOrEitherAndIgnoresErrorPositions) {
  struct Case {
    QByteArray bytes;
    int x, y;
  } cases[] = {
      {"-5\r\n0\r\n", -5, 0},
      {"7\n8", 7, 8},
      {"7\r8\r", 7, 8},
      {"12abc\r\n $10\r\n", 12, 16},
      {"\r\n3\r\n", 0, 3},
      {"1\r\n\r\n", 1, 0},
      {"65535\r\n-1\r\nextra\r\n", 65535, -1},
      {"1\n\r2", 1, 0},
  };
  for (const Case& c : cases) {
    const TPlacement p = ParsePlacement(c.bytes);
    EXPECT_EQ(p.x, c.x) << c.bytes.toStdString();
    EXPECT_EQ(p.y, c.y) << c.bytes.toStdString();
  }
  for (const QByteArray& one : {QByteArray(""), QByteArray("5"), QByteArray("5\r\n")})
    EXPECT_THROW(ParsePlacement(one), EPlacementFileError) << one.toStdString();
  QTemporaryDir dir;
  EXPECT_THROW(ReadPlacementFile(dir.filePath("none.txt")), EFOpenError);
  WritePlacementFile(dir.filePath("p.txt"), 100, -100);
  WritePlacementFile(dir.filePath("p.txt"), -5, 0);  // replaces the whole file
  EXPECT_EQ(ReadAll(dir.filePath("p.txt")), QByteArray("-5\r\n0\r\n"));
  EXPECT_EQ(ReadPlacementFile(dir.filePath("p.txt")).x, -5);
}

class ExportTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  TJOV jov;
  LibraryBuilder lib{0};

  void Open(LibraryBuilder& b) {
    ASSERT_EQ(jov.Open(b.Write(dir.path(), "lib")), TOpenResult::Opened);
  }
  QString Out(const QString& name = QString()) { return dir.filePath("out/" + name); }
};

// The expected 8-bit file, built from the format rather than by the writer.
QByteArray Bitmap8(int w, int h, const std::array<uint8_t, 1024>& palette,
                   const std::vector<uint8_t>& bottomFirst) {
  QByteArray b;
  auto u32 = [&b](uint32_t v) {
    for (int i = 0; i < 4; ++i) b.append(char(v >> (8 * i)));
  };
  auto u16 = [&b](uint16_t v) { b.append(char(v)), b.append(char(v >> 8)); };
  const uint32_t image = uint32_t(w * h);
  b.append("BM");
  u32(14 + 40 + 1024 + image);
  u32(0);
  u32(14 + 40 + 1024);
  u32(40);
  u32(uint32_t(w));
  u32(uint32_t(h));
  u16(1);
  u16(8);
  u32(0);
  u32(image);
  u32(0), u32(0), u32(0), u32(0);
  b.append(reinterpret_cast<const char*>(palette.data()), 1024);
  b.append(reinterpret_cast<const char*>(bottomFirst.data()), qsizetype(bottomFirst.size()));
  return b;
}

TEST_F(ExportTest, EightBitImagesCarryThePaletteAndTheRecordRowForRow) {
  std::vector<uint8_t> pixels(8 * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7 + 1);
  // Both 8-bit variants (their record headers differ in length), and a record another
  // tool wrote with an odd width: its rows are padded with black (entry 0) to 8.
  for (int fileType : {0, 1}) {
    LibraryBuilder b(fileType);
    b.Add8(8, 3, -5, 0, pixels);
    b.Add8(5, 3, 7, 9, std::vector<uint8_t>(pixels.begin(), pixels.begin() + 15));
    Open(b);
    ExportImage(jov, 0, dir.filePath("one.bmp"));
    EXPECT_EQ(ReadAll(dir.filePath("one.bmp")), Bitmap8(8, 3, b.palette, pixels)) << fileType;
    EXPECT_EQ(jov.px(), -5);
    // The shared bitmap describes the image exported last, as after ImageAt.
    const QImage shared = jov.OutputBitmap().copy();
    EXPECT_EQ(shared, *jov.ImageAt(0));
    ExportImage(jov, 1, dir.filePath("odd.bmp"));
    std::vector<uint8_t> padded;
    for (int y = 0; y < 3; ++y) {
      padded.insert(padded.end(), pixels.begin() + y * 5, pixels.begin() + y * 5 + 5);
      padded.insert(padded.end(), 3, 0);
    }
    EXPECT_EQ(ReadAll(dir.filePath("odd.bmp")), Bitmap8(8, 3, b.palette, padded)) << fileType;
    EXPECT_EQ(jov.py(), 9);
  }
}

TEST_F(ExportTest, AnImageTooLargeToShowExportsThePicturePreviouslyShown) {
  lib.Add8(4, 2, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8});
  lib.Add8(2004, 1, 0, 0, std::vector<uint8_t>(2004, 9));
  Open(lib);
  // After a sequence, as after any fetch, the record over 2000 wide keeps the picture
  // before it; a viewer fetch in between must not change that.
  QDir().mkpath(Out());
  ExportSequence(jov, Out(), {0, 1});
  EXPECT_EQ(ReadAll(Out("000001.bmp")), ReadAll(Out("000000.bmp")));
  ExportImage(jov, 0, Out("a.bmp"));
  jov.ImageAt(1);
  ExportImage(jov, 1, Out("b.bmp"));
  EXPECT_EQ(ReadAll(Out("b.bmp")), ReadAll(Out("000000.bmp")));
}

TEST_F(ExportTest, RunCodedImagesBecomeSixteenBitBitmapsWithRgb565Masks) {
  LibraryBuilder b(2);
  b.Add16(3, 1, 0, 0, {0, 6, 0xC1, 3, 0xF800, 0x07E0, 0x001F});
  Open(b);
  ExportImage(jov, 0, dir.filePath("w.bmp"));
  const QByteArray f = ReadAll(dir.filePath("w.bmp"));
  ASSERT_EQ(f.size(), 14 + 40 + 12 + 8);
  EXPECT_EQ(f.mid(28, 2), QByteArray("\x10\x00", 2));    // 16 bits
  EXPECT_EQ(f.mid(30, 4), QByteArray("\x03\0\0\0", 4));  // bit fields
  EXPECT_EQ(f.mid(54, 12), QByteArray("\x00\xF8\0\0\xE0\x07\0\0\x1F\0\0\0", 12));
  EXPECT_EQ(f.mid(66), QByteArray("\x00\xF8\xE0\x07\x1F\x00\x00\x00", 8)) << "padding is zero";
}

TEST_F(ExportTest, SequenceClampsWritesBitmapsAndPlacementsAndKeepsOtherFiles) {
  for (int i = 0; i < 4; ++i) lib.Add8(4, 1, int16_t(i - 2), int16_t(i * 10), {1, 2, 3, 4});
  Open(lib);
  QDir().mkpath(Out("Placements"));
  WriteFileBytes(Out("Placements/keep.txt"), "x");
  WriteFileBytes(Out("000001.bmp"), QByteArray(5000, 'z'));  // replaced
  const TExportRange range = ClampExportRange(-3, 99, jov.ImageCount());
  EXPECT_EQ(range.start, 0);
  EXPECT_EQ(range.end, 3);
  std::vector<int> progress;
  TProgressFunction delegate([&](int64_t done, int64_t) { progress.push_back(int(done)); });
  ExportSequence(jov, dir.filePath("out"), range, &delegate);
  EXPECT_EQ(progress, (std::vector<int>{0, 1, 2, 3, 4}));
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ReadAll(Out(ExchangeBitmapName(i))).size(), 14 + 40 + 1024 + 4);
    EXPECT_EQ(ReadAll(Out("Placements/" + PlacementFileName(i))),
              PlacementFileBytes(i - 2, i * 10));
  }
  EXPECT_EQ(ReadAll(Out("Placements/keep.txt")), "x");
}

TEST_F(ExportTest, EmptyAndReversedRangesWriteNoImages) {
  lib.Add8(4, 1, 0, 0, {1, 2, 3, 4});
  Open(lib);
  QDir().mkpath(Out());
  // start = end + 1: the sub-folder only.
  ExportSequence(jov, Out(), {5, 4});
  EXPECT_TRUE(QDir(Out("Placements")).exists());
  EXPECT_EQ(QDir(Out()).entryList(QDir::Files).size(), 0);
  // An empty library: the end is -1.
  EXPECT_EQ(ClampExportRange(0, -1, 0).end, -1);
  // More than one above the end: nothing at all.
  QDir().mkpath(dir.filePath("other"));
  ExportSequence(jov, dir.filePath("other"), {6, 4});
  EXPECT_TRUE(
      QDir(dir.filePath("other")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST_F(ExportTest, AMissingFolderFailsBeforeAnythingIsWritten) {
  lib.Add8(4, 1, 0, 0, {1, 2, 3, 4});
  Open(lib);
  try {
    ExportSequence(jov, dir.filePath("missing/deeper"), {0, 0});
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_TRUE(e.Message().contains("missing/deeper/Placements"));
  }
  EXPECT_FALSE(QDir(dir.filePath("missing")).exists());
}

TEST_F(ExportTest, EmptyImagesAreWrittenAsZeroSizedBitmaps) {
  lib.AddEntry(-1);
  Open(lib);
  ExportImage(jov, 0, dir.filePath("e.bmp"));
  const QByteArray f = ReadAll(dir.filePath("e.bmp"));
  ASSERT_EQ(f.size(), 14 + 40 + 1024);
  EXPECT_EQ(f.mid(18, 8), QByteArray(8, '\0'));
}

}  // namespace
