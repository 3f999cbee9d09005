// Batch import: the files each run leaves, checked against libraries built byte by byte,
// and what a failure, a bad input or a power cut at any step leaves behind.

#include "editing/batchimport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "common/byteio.h"
#include "common/errors.h"
#include "editing/exchange.h"
#include "editing/pictureloader.h"
#include "library/myjov.h"
#include "library/tolibrary.h"
#include "library/transaction.h"
#include "support/bmpbuilder.h"
#include "support/crashloop.h"
#include "support/libbuilder.h"

namespace {

// A record as the builder lays it: size, placement and its pixel block.
struct Rec {
  int16_t w, h, px, py;
  std::vector<uint8_t> pixels;
};

// An old image of the library: w x h, pixels first, first + 1, ... (never 0).
Rec Old(int16_t w, int16_t h, int16_t px, int16_t py, int first) {
  Rec r{w, h, px, py, std::vector<uint8_t>(size_t(w) * size_t(h))};
  for (size_t i = 0; i < r.pixels.size(); ++i) r.pixels[i] = uint8_t(1 + (first + i) % 250);
  return r;
}

// The builder's palette colour of index i as 0xRRGGBB: (blue, green, red) = (i, 255 - i, i / 2).
uint32_t Colour(int i) {
  return i == 0 ? 0 : (uint32_t(i / 2) << 16) | (uint32_t(255 - i) << 8) | uint32_t(i);
}

// A picture file w x h of palette indices (top row first), as an 8-bit bitmap whose
// colours are those of the library palette; and the record it becomes: the width rounded
// up to 4 with black (index 0) columns, rows bottom first.
struct Picture {
  QByteArray file;
  Rec record;
};
Picture MakePicture(int w, int h, int seed) {
  std::vector<std::vector<uint32_t>> rows(static_cast<size_t>(h),
                                          std::vector<uint32_t>(static_cast<size_t>(w)));
  const int stored = (w + 3) / 4 * 4;
  Rec rec{int16_t(stored), int16_t(h), 0, 0, std::vector<uint8_t>(size_t(stored) * size_t(h), 0)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t v = uint32_t(1 + (seed * 37 + y * w + x) % 250);
      rows[size_t(y)][size_t(x)] = v;
      rec.pixels[size_t(h - 1 - y) * size_t(stored) + size_t(x)] = uint8_t(v);
    }
  BmpSpec spec;
  spec.width = w;
  spec.height = h;
  spec.depth = 8;
  for (int i = 0; i < 256; ++i) spec.colours.push_back(Colour(i));
  spec.pixels = PackBmpRows(8, w, rows);
  return {BuildBmp(spec), rec};
}

Rec Placed(Rec r, int16_t px, int16_t py) {
  r.px = px;
  r.py = py;
  return r;
}
// The placeholder of a file no reader takes: 4 x 1 black.
Rec Black(int16_t px, int16_t py) {
  return {4, 1, px, py, std::vector<uint8_t>(4, 0)};
}

LibraryBuilder Build(int fileType, const std::vector<Rec>& recs) {
  LibraryBuilder b(fileType);
  for (const Rec& r : recs) b.Add8(r.w, r.h, r.px, r.py, r.pixels);
  return b;
}

std::vector<Rec> OldImages(int n) {
  std::vector<Rec> recs;
  for (int i = 0; i < n; ++i)
    recs.push_back(
        Old(int16_t(4 * (1 + i % 3)), int16_t(2 + i % 2), int16_t(i - 3), int16_t(10 * i), i * 11));
  return recs;
}

class BatchImportTest : public ::testing::TestWithParam<int> {
 protected:
  QTemporaryDir dir{ScratchTemplate()};
  QString folder, dataPath, indexPath;
  QByteArray oldData, oldIndex;

  void SetUp() override {
    folder = WithTrailingSeparator(dir.filePath("in"));
    ASSERT_TRUE(QDir().mkpath(folder + "Placements"));
  }
  void Lay(const std::vector<Rec>& recs) {
    dataPath = Build(GetParam(), recs).Write(dir.path(), "lib");
    indexPath = dir.filePath("lib.JOX");
    oldData = ReadFileBytes(dataPath);
    oldIndex = ReadFileBytes(indexPath);
  }
  void File(const QString& name, const QByteArray& bytes) {
    ASSERT_TRUE(WriteBytesToFile(folder + name, bytes));
  }
  // A picture file in the folder, with its placement file unless placement is null.
  Rec Add(const QString& name, int w, int h, int seed, const char* placement = nullptr) {
    const Picture p = MakePicture(w, h, seed);
    File(name, p.file);
    if (placement) File("Placements/" + QFileInfo(name).completeBaseName() + ".txt", placement);
    return p.record;
  }
  void Open(TJOV& jov) { ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened); }
  void ExpectFiles(const std::vector<Rec>& recs, const QByteArray& stale = {}) {
    LibraryBuilder b = Build(GetParam(), recs);
    b.AddBytes(stale);
    // The data file is never shortened: the old file's last bytes stay behind.
    QByteArray data = b.Data();
    if (oldData.size() > data.size()) data += oldData.mid(data.size());
    EXPECT_EQ(ReadFileBytes(dataPath), data);
    EXPECT_EQ(ReadFileBytes(indexPath), b.Index());
    EXPECT_FALSE(JournalIsHot(TLibraryPaths::Of(dataPath)));
  }
  void ExpectUnchanged() {
    EXPECT_EQ(ReadFileBytes(dataPath), oldData);
    EXPECT_EQ(ReadFileBytes(indexPath), oldIndex);
    EXPECT_FALSE(JournalIsHot(TLibraryPaths::Of(dataPath)));
  }
  static void ExpectDescribes(TJOV& jov) {
    TJOV fresh;
    ASSERT_EQ(fresh.Open(jov.FileName()), TOpenResult::Opened);
    EXPECT_EQ(jov.ImageCount(), fresh.ImageCount());
    EXPECT_EQ(jov.IndexEntries(), fresh.IndexEntries());
  }
};

TEST(BitmapListTest, BitmapsOnlyWithoutRegardToCaseInNameOrder) {
  QTemporaryDir dir;
  for (const char* name : {"b.BMP", "a.bmp", "C.Bmp", "000010.bmp", "000002.bmp", ".hidden.bmp",
                           "notes.txt", "x.bmp.txt"})
    ASSERT_TRUE(WriteBytesToFile(dir.filePath(name), "x"));
  ASSERT_TRUE(QDir(dir.path()).mkdir("folder.bmp"));
  EXPECT_EQ(ListBitmapFiles(dir.path()),
            QStringList({"000002.bmp", "000010.bmp", "a.bmp", "b.BMP", "C.Bmp"}));
  EXPECT_THROW(ListBitmapFiles(dir.filePath("missing")), EFOpenError);
}

TEST(NewLikeTest, TextBeforeAndAfterTheFirstComma) {
  const struct {
    const char* text;
    int x, y;
  } cases[] = {{"12", 0, 12}, {"-3,7", -3, 7}, {"0,0", 0, 0},  {"5,", 5, 0},
               {",9", 0, 9},  {"4,5,6", 4, 5}, {"7x,8", 7, 8}, {"", 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const TPlacement p = ParsePlacementText(QString::fromLatin1(c.text));
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
  }
}

TEST_P(BatchImportTest, AddAppendsEveryBitmapInNameOrderWithItsPlacement) {
  const std::vector<Rec> old = OldImages(3);
  Lay(old);
  const Rec b = Add("b.BMP", 5, 3, 1);  // no placement file: 0, 0
  const Rec a = Add("a.bmp", 8, 2, 2, "5\r\n-6\r\n");
  const Rec c = Add("C.bmp", 3, 4, 3, "65535\n3");  // 65535 is stored as -1
  File("z.bmp", "BM not a picture");                // no reader takes it
  File("Placements/z.txt", "1\n2\n");
  TJOV jov;
  Open(jov);
  ImportAdd(jov, folder, ListBitmapFiles(folder), {});
  std::vector<Rec> expected = old;
  for (const Rec& r : {Placed(a, 5, -6), Placed(b, 0, 0), Placed(c, -1, 3), Black(1, 2)})
    expected.push_back(r);
  ExpectFiles(expected);
  ExpectDescribes(jov);
}

// An index shorter than its count: the new entries stand at their own places.
TEST_P(BatchImportTest, AddBehindAShortIndex) {
  std::vector<Rec> old = OldImages(2);
  LibraryBuilder b = Build(GetParam(), old);
  b.dataCount = b.indexCount = 3;
  const int32_t third = b.NextOffset();
  b.Add8(4, 1, 0, 0, {1, 2, 3, 4});
  QByteArray index = b.Index();
  dataPath = b.Write(dir.path(), "lib");
  indexPath = dir.filePath("lib.JOX");
  index.chop(4);  // the third entry is missing
  WriteFileBytes(indexPath, index);
  Add("a.bmp", 4, 1, 1);
  TJOV jov;
  Open(jov);
  ImportAdd(jov, folder, ListBitmapFiles(folder), {});
  EXPECT_EQ(jov.ImageCount(), 4);
  EXPECT_EQ(jov.EntryOf(3), third + 8 + 4 * GetParam() + 4);
}

TEST_P(BatchImportTest, AnEmptyFolderAddsNothing) {
  Lay(OldImages(2));
  TJOV jov;
  Open(jov);
  ImportAdd(jov, folder, ListBitmapFiles(folder), {});
  ExpectUnchanged();
}

TEST_P(BatchImportTest, InsertAtZeroOfTwoFilesMovesEveryOldRecord) {
  const std::vector<Rec> old = OldImages(4);
  Lay(old);
  const Rec a = Add("000000.bmp", 6, 3, 4);
  const Rec b = Add("000001.bmp", 4, 1, 5);
  TJOV jov;
  Open(jov);
  ImportInsert(jov, folder, ListBitmapFiles(folder), {true, {-3, 7}}, 0);
  std::vector<Rec> expected = {Placed(a, -3, 7), Placed(b, -3, 7)};
  expected.insert(expected.end(), old.begin(), old.end());
  ExpectFiles(expected);
  ExpectDescribes(jov);
}

TEST_P(BatchImportTest, InsertInTheMiddleKeepsStaleBytesBehindTheLastRecord) {
  std::vector<Rec> old = OldImages(3);
  LibraryBuilder builder = Build(GetParam(), old);
  builder.AddBytes("stale");
  dataPath = builder.Write(dir.path(), "lib");
  indexPath = dir.filePath("lib.JOX");
  oldData = ReadFileBytes(dataPath);
  const Rec a = Add("a.bmp", 9, 2, 6, "1\n1");
  File("b.bmp", QByteArray(300, 'x'));
  TJOV jov;
  Open(jov);
  ImportInsert(jov, folder, ListBitmapFiles(folder), {}, 2);
  ExpectFiles({old[0], old[1], Placed(a, 1, 1), Black(0, 0), old[2]}, "stale");
}

TEST_P(BatchImportTest, ReplaceUsesTheFirstFilesOfTheList) {
  const std::vector<Rec> old = OldImages(7);
  Lay(old);
  std::vector<Rec> pictures;
  for (int i = 0; i < 10; ++i)
    pictures.push_back(Add(QString::asprintf("p%02d.bmp", i), 2 + 3 * i, 1 + i % 3, 10 + i));
  TJOV jov;
  Open(jov);
  ImportReplace(jov, folder, ListBitmapFiles(folder), {true, {0, 12}}, 3, 5);
  ExpectFiles({old[0], old[1], old[2], Placed(pictures[0], 0, 12), Placed(pictures[1], 0, 12),
               Placed(pictures[2], 0, 12), old[6]});
  ExpectDescribes(jov);
}

TEST_P(BatchImportTest, ReplaceEndingAtTheLastImageLeavesTheFileLengthWhenShorter) {
  const std::vector<Rec> old = {Old(8, 4, 1, 1, 0), Old(16, 4, 2, 2, 5), Old(12, 3, 3, 3, 9)};
  Lay(old);
  const Rec a = Add("a.bmp", 4, 2, 7);
  File("b.bmp", "unreadable");
  TJOV jov;
  Open(jov);
  ImportReplace(jov, folder, ListBitmapFiles(folder), {}, 1, 2);
  // A file no reader takes is a record of 1 x 1 with a 4-byte pixel block.
  LibraryBuilder b = Build(GetParam(), {old[0], Placed(a, 0, 0)});
  const int32_t at = b.NextOffset();
  b.Add8(1, 1, 0, 0, {0});
  b.AddBytes(QByteArray(3, '\0'));
  QByteArray data = b.Data();
  data += oldData.mid(data.size());  // the old file's bytes stay behind
  EXPECT_EQ(ReadFileBytes(dataPath), data);
  QByteArray index = b.Index();
  EXPECT_EQ(ReadFileBytes(indexPath), index);
  EXPECT_EQ(jov.EntryOf(2), at);
}

TEST_P(BatchImportTest, ReplaceThatGrowsMovesTheRecordsBehind) {
  const std::vector<Rec> old = OldImages(5);
  Lay(old);
  const Rec a = Add("a.bmp", 30, 9, 8, "-1\n-2");
  TJOV jov;
  Open(jov);
  ImportReplace(jov, folder, ListBitmapFiles(folder), {}, 2, 2);
  ExpectFiles({old[0], old[1], Placed(a, -1, -2), old[3], old[4]});
}

TEST_P(BatchImportTest, PicKeepsPlacementsAndTakesTheNumberedFiles) {
  const std::vector<Rec> old = OldImages(11);
  Lay(old);
  const Rec seven = Add("000007.bmp", 20, 5, 1);  // grows
  const Rec nine = Add("000009.BMP", 1, 1, 2);    // shrinks
  Add("000000.bmp", 9, 9, 3);                     // listed first, not in the range
  TJOV jov;
  Open(jov);
  ImportPixels(jov, folder, 7, 9);
  std::vector<Rec> expected = old;
  expected[7] = Placed(seven, old[7].px, old[7].py);
  expected[8] = Black(old[8].px, old[8].py);  // no 000008.bmp
  expected[9] = Placed(nine, old[9].px, old[9].py);
  const LibraryBuilder b = Build(GetParam(), expected);
  const QByteArray data = ReadFileBytes(dataPath);
  // The referenced bytes, and the length that replacing one image after the other
  // leaves: it grows by each record that grew and never shrinks.
  EXPECT_EQ(data.left(b.Data().size()), b.Data());
  auto pixels = [](const Rec& r) { return int64_t(r.w) * r.h; };
  int64_t grown = 0;
  for (int i = 7; i <= 9; ++i)
    grown += std::max<int64_t>(0, pixels(expected[size_t(i)]) - pixels(old[size_t(i)]));
  EXPECT_EQ(data.size(), oldData.size() + grown);
  EXPECT_EQ(ReadFileBytes(indexPath), b.Index());
  if (GetParam() == 1) {
    // The copy of the placement behind py stays too.
    const int32_t at = jov.EntryOf(7).value();
    const auto* p = reinterpret_cast<const uint8_t*>(data.constData()) + at;
    EXPECT_EQ(GetI16(p + 8), old[7].px);
    EXPECT_EQ(GetI16(p + 10), old[7].py);
  }
  ExpectDescribes(jov);
}

TEST_P(BatchImportTest, PicOfTheSameSizesRewritesPixelsOnly) {
  const std::vector<Rec> old = {Old(8, 2, 4, 4, 0), Old(4, 3, 5, 5, 3)};
  Lay(old);
  const Rec a = Add("000001.bmp", 4, 3, 9);
  TJOV jov;
  Open(jov);
  ImportPixels(jov, folder, 1, 1);
  ExpectFiles({old[0], Placed(a, 5, 5)});
}

TEST_P(BatchImportTest, XyFromFolderOrTypedPair) {
  const std::vector<Rec> old = OldImages(6);
  Lay(old);
  File("000003.txt", "65535\r\n-32768\r\n");
  File("000005.TXT", "40000\n7");  // wraps to 16 bits
  TJOV jov;
  Open(jov);
  ImportPlacements(jov, folder, {}, 3, 5);  // 000004.txt is missing: 0, 0
  std::vector<Rec> expected = old;
  expected[3] = Placed(old[3], -1, -32768);
  expected[4] = Placed(old[4], 0, 0);
  expected[5] = Placed(old[5], int16_t(40000 - 65536), 7);
  // Only the first pair is written; the copy that FileType 1 records carry stays.
  LibraryBuilder b = Build(GetParam(), expected);
  QByteArray data = b.Data();
  if (GetParam() == 1)
    for (int i = 3; i <= 5; ++i) {
      auto* p = reinterpret_cast<uint8_t*>(data.data()) + jov.EntryOf(i).value();
      PutI16(p + 8, old[size_t(i)].px);
      PutI16(p + 10, old[size_t(i)].py);
    }
  EXPECT_EQ(ReadFileBytes(dataPath), data);
  EXPECT_EQ(ReadFileBytes(indexPath), oldIndex);

  ImportPlacements(jov, QString(), {true, ParsePlacementText("12")}, 0, 0);
  jov.ImageAt(0);
  EXPECT_EQ(jov.px(), 0);
  EXPECT_EQ(jov.py(), 12);
}

TEST_P(BatchImportTest, AValidBitmapOurReaderRefusesIsReadByTheLoader) {
  Lay(OldImages(1));
  // A 24-bit picture with the 124-byte header current editors write.
  const Picture p = MakePicture(4, 2, 5);
  BmpSpec spec;
  spec.width = 4;
  spec.height = 2;
  spec.depth = 24;
  std::vector<std::vector<uint32_t>> rows(2, std::vector<uint32_t>(4));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x)
      rows[size_t(y)][size_t(x)] = Colour(p.record.pixels[size_t(1 - y) * 4 + size_t(x)]);
  spec.pixels = PackBmpRows(24, 4, rows);
  QByteArray bytes = BuildBmp(spec);
  bytes.insert(54, QByteArray(124 - 40, '\0'));
  auto* b = reinterpret_cast<uint8_t*>(bytes.data());
  PutU32(b + 2, uint32_t(bytes.size()));
  PutU32(b + 10, 14 + 124);
  PutU32(b + 14, 124);
  File("v5.bmp", bytes);
  TJOV jov;
  Open(jov);
  ImportAdd(jov, folder, ListBitmapFiles(folder), {});
  const uint8_t* rowsStored = jov.StoredRows8(1);
  ASSERT_NE(rowsStored, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(rowsStored, rowsStored + 8), p.record.pixels);
}

// Bitmaps in the library's colours are taken index by index; the result must be what the
// full conversion gives, whatever order the bitmap's colour table has.
TEST_P(BatchImportTest, IndexedBitmapsGiveWhatTheFullConversionGives) {
  Lay(OldImages(1));
  const LibraryBuilder palette(GetParam());
  for (const int w : {1, 6, 8}) {
    BmpSpec spec;
    spec.width = w;
    spec.height = 3;
    spec.depth = 8;
    for (int i = 0; i < 256; ++i) spec.colours.push_back(Colour((i * 97 + w) % 256));
    spec.pixels = PackBmpRows(8, w, RandomBmpPixels(w, 3, 8, uint32_t(w)));
    File(QString::asprintf("w%d.bmp", w), BuildBmp(spec));
  }
  TJOV jov;
  Open(jov);
  ImportAdd(jov, folder, ListBitmapFiles(folder), {});
  TPictureLoader loader;
  TDIB work;
  int index = 1;
  for (const QString& name : ListBitmapFiles(folder)) {
    SCOPED_TRACE(name.toStdString());
    ToLibraryBitmap(work, palette.palette, loader.Load(folder + name));
    const uint8_t* rows = jov.StoredRows8(index++);
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(
        std::vector<uint8_t>(rows, rows + work.ImageSize()),
        std::vector<uint8_t>(work.ConstPixelData(), work.ConstPixelData() + work.ImageSize()));
  }
}

// A placement file of one line stops a run: whatever the run had written, the library is
// as it was, with no entries behind the count and no tail missing.
TEST_P(BatchImportTest, AFailedRunLeavesTheLibraryAsItWas) {
  Lay(OldImages(4));
  Add("a.bmp", 8, 2, 1, "1\n2");
  Add("b.bmp", 12, 3, 2, "only one line");
  File("000002.txt", "3");
  const QStringList files = ListBitmapFiles(folder);
  const std::function<void(TJOV&)> runs[] = {
      [&](TJOV& j) { ImportAdd(j, folder, files, {}); },
      [&](TJOV& j) { ImportInsert(j, folder, files, {}, 1); },
      [&](TJOV& j) { ImportReplace(j, folder, files, {}, 0, 1); },
      [&](TJOV& j) { ImportPlacements(j, folder, {}, 1, 3); },
  };
  for (const auto& run : runs) {
    TJOV jov;
    Open(jov);
    EXPECT_THROW(run(jov), EPlacementFileError);
    ExpectUnchanged();
    ExpectDescribes(jov);
  }
}

TEST_P(BatchImportTest, RangesOutsideTheLibraryAreRefusedBeforeAnyWrite) {
  Lay(OldImages(3));
  Add("a.bmp", 4, 1, 1);
  const QStringList files = ListBitmapFiles(folder);
  TJOV jov;
  Open(jov);
  EXPECT_THROW(ImportInsert(jov, folder, files, {}, 3), EJovError);
  EXPECT_THROW(ImportReplace(jov, folder, files, {}, 2, 1), EJovError);
  EXPECT_THROW(ImportReplace(jov, folder, files, {}, 0, 1), EJovError);  // one file for two
  EXPECT_THROW(ImportPixels(jov, folder, -1, 0), EJovError);
  EXPECT_THROW(ImportPlacements(jov, folder, {}, 0, 3), EJovError);
  ExpectUnchanged();
}

// Every step of every run fails in turn, and the power goes at every step: the next
// opening finds the old library or the new one.
TEST_P(BatchImportTest, AFailureOrAPowerCutAtAnyStepLeavesTheOldOrTheNewFiles) {
  Add("000001.bmp", 9, 2, 1, "4\n5");
  Add("000002.bmp", 3, 1, 2, "-4\n-5");
  Add("000003.bmp", 4, 2, 3);
  File("000001.txt", "8\n9");
  const QStringList files = ListBitmapFiles(folder);
  const std::pair<const char*, std::function<void(TJOV&)>> runs[] = {
      {"Add", [&](TJOV& j) { ImportAdd(j, folder, files, {}); }},
      {"Insert", [&](TJOV& j) { ImportInsert(j, folder, files, {}, 1); }},
      {"Replace",
       [&](TJOV& j) {
         ImportReplace(j, folder, files, {true, {1, 1}}, 1, 2);
       }},
      {"Pic", [&](TJOV& j) { ImportPixels(j, folder, 1, 3); }},
      {"XY", [&](TJOV& j) { ImportPlacements(j, folder, {}, 0, 2); }},
  };
  for (const auto& [name, run] : runs) {
    SCOPED_TRACE(name);
    Lay(OldImages(4));
    EXPECT_GT(ExpectCrashSafe(dataPath, indexPath,
                              [&](TJOV& j) {
                                run(j);
                                return true;
                              }),
              3);
    EXPECT_NE(ReadFileBytes(dataPath) + ReadFileBytes(indexPath), oldData + oldIndex);
  }
}

INSTANTIATE_TEST_SUITE_P(FileTypes, BatchImportTest, ::testing::Values(0, 1),
                         [](const auto& info) { return "FileType" + std::to_string(info.param); });

}  // namespace
