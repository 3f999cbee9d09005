// Creating a library from a folder of bitmaps, and compacting one: the bytes they leave,
// checked against independently built files, and what a failure leaves.

#include "editing/createlib.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include "common/byteio.h"
#include "common/errors.h"
#include "editing/export.h"
#include "library/myjov.h"
#include "library/pairswitch.h"
#include "support/bmpbuilder.h"
#include "support/crashloop.h"
#include "support/libbuilder.h"

namespace {

// The palette of LibraryBuilder (no colour twice) as the 0xRRGGBB colours of a bitmap.
std::vector<uint32_t> BuilderColours() {
  const LibraryBuilder b(0);
  std::vector<uint32_t> colours;
  for (int i = 0; i < 256; ++i)
    colours.push_back(uint32_t(b.palette[i * 4 + 2]) << 16 | uint32_t(b.palette[i * 4 + 1]) << 8 |
                      b.palette[i * 4]);
  return colours;
}

// An 8-bit bitmap in the builder's palette whose pixel (x, y) counting from the bottom
// row is first + y * w + x.
QByteArray Bitmap8(int w, int h, uint8_t first) {
  std::vector<std::vector<uint32_t>> rows(static_cast<size_t>(h),
                                          std::vector<uint32_t>(static_cast<size_t>(w)));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) rows[size_t(h - 1 - y)][size_t(x)] = uint8_t(first + y * w + x);
  BmpSpec spec;
  spec.width = w;
  spec.height = h;
  spec.colours = BuilderColours();
  spec.pixels = PackBmpRows(8, w, rows);
  return BuildBmp(spec);
}

std::vector<uint8_t> Stored(int w, int h, uint8_t first) {
  std::vector<uint8_t> v(size_t(w) * size_t(h));
  for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t(first + i);
  return v;
}

QByteArray Template(const char* name) {
  return ReadFileBytes(QStringLiteral(":/EXEFILE/") + name);
}

class CreateTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  QString folder, lib, index;

  void SetUp() override {
    folder = dir.filePath(QStringLiteral("pics"));
    ASSERT_TRUE(QDir().mkpath(folder + "/Placements"));
    lib = dir.filePath(QStringLiteral("new.jov"));
    index = dir.filePath(QStringLiteral("new.JOX"));
  }
  void Put(const QString& name, const QByteArray& bytes) {
    WriteFileBytes(folder + "/" + name, bytes);
  }
  int Create(bool fromBitmap, std::optional<TPlacement> placement = std::nullopt) {
    return CreateLibrary({folder, lib, fromBitmap, placement});
  }
  QStringList Leftovers() const {
    return QDir(dir.path())
        .entryList(
            {QStringLiteral("*-new"), QStringLiteral("*-switch"), QStringLiteral("*-journal")},
            QDir::Files);
  }
};

TEST_F(CreateTest, AnEmptyFolderGivesTheTwoTemplates) {
  // The templates, checked against their published bytes.
  const QByteArray jovT = Template("JOV"), joxT = Template("JOX");
  ASSERT_EQ(jovT.size(), 1080);
  ASSERT_EQ(joxT.size(), 48);
  EXPECT_EQ(jovT.left(44),
            QByteArray("\x23ILIB v1.0-TALVEN Entertainment inc.\0\0\0\0\x4D\x3E\x40\0", 44));
  EXPECT_EQ(jovT.mid(44, 12), QByteArray("\0\0\0\0\0\1\0\0\0\4\0\0", 12));
  EXPECT_EQ(
      joxT,
      QByteArray("\x23INDX v1.0-TALVEN Entertainment inc.\x0B\0\0\0\x70\x78\xDA\0\0\0\0\0", 48));
  const uint32_t documented[][2] = {{0, 0x000000},   {1, 0x800000},   {7, 0xC0C0C0},
                                    {8, 0x558097},   {9, 0x9DB9C8},   {244, 0xDF009F},
                                    {245, 0xE317B3}, {246, 0xFFFBF0}, {247, 0xA0A0A4},
                                    {249, 0xFF0000}, {255, 0xFFFFFF}};
  for (const auto& [i, rgb] : documented) {
    const auto* e = reinterpret_cast<const uint8_t*>(jovT.constData()) + 56 + i * 4;
    EXPECT_EQ(uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0], rgb) << "entry " << i;
    EXPECT_EQ(e[3], 0);
  }

  // No colour twice, so that every colour of an exported picture maps back to its entry.
  QSet<uint32_t> colours;
  for (int i = 0; i < 256; ++i)
    colours.insert(GetU32(reinterpret_cast<const uint8_t*>(jovT.constData()) + 56 + i * 4));
  EXPECT_EQ(colours.size(), 256);

  EXPECT_EQ(Create(false), 0);
  EXPECT_EQ(ReadFileBytes(lib), jovT);
  EXPECT_EQ(ReadFileBytes(index), joxT);
  EXPECT_TRUE(Leftovers().isEmpty());
  TJOV jov;
  ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
  EXPECT_EQ(int(jov.FileType()), 0);
  EXPECT_EQ(jov.ImageCount(), 0);
}

TEST_F(CreateTest, BitmapsInNameOrderWithoutRegardToCase) {
  Put("b.BMP", Bitmap8(8, 2, 10));
  Put("A.bmp", Bitmap8(4, 3, 40));
  Put("c.bmp", Bitmap8(12, 1, 70));  // one row: the placeholder
  Put("d.txt", "not a bitmap");
  Put(".e.bmp", "hidden");
  ASSERT_TRUE(QDir(folder).mkdir("sub.bmp"));
  WriteFileBytes(folder + "/Placements/A.txt", "12\r\n-3\r\n");
  EXPECT_EQ(ListBitmapFiles(folder), (QStringList{"A.bmp", "b.BMP", "c.bmp"}));

  // Placements from the files, 0, 0 without one; the palette of the first bitmap.
  EXPECT_EQ(Create(true), 3);
  LibraryBuilder expected(0);
  expected.Add8(4, 3, 12, -3, Stored(4, 3, 40));
  expected.Add8(8, 2, 0, 0, Stored(8, 2, 10));
  expected.Add8(1, 1, 1, 1, {0});
  const QByteArray data = ReadFileBytes(lib), built = expected.Data();
  QByteArray header = Template("JOV").left(56);
  PutI32(reinterpret_cast<uint8_t*>(header.data()) + 44, 3);
  EXPECT_EQ(data.left(56), header);
  EXPECT_EQ(data.mid(56), built.mid(56));  // palette and records
  QByteArray indexHeader = Template("JOX");
  PutI32(reinterpret_cast<uint8_t*>(indexHeader.data()) + 44, 3);
  EXPECT_EQ(ReadFileBytes(index), indexHeader + expected.Index().mid(48));

  // One typed pair for every image; no "Placements" folder is needed then, or at all.
  ASSERT_TRUE(QDir(folder + "/Placements").removeRecursively());
  for (const std::optional<TPlacement>& xy :
       {std::optional<TPlacement>{TPlacement{12, -3}}, std::optional<TPlacement>{}}) {
    Create(false, xy);
    TJOV jov;
    ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
    for (int i = 0; i < 2; ++i) {
      jov.ImageAt(i);
      EXPECT_EQ(jov.px(), xy ? 12 : 0);
      EXPECT_EQ(jov.py(), xy ? -3 : 0);
    }
  }
}

TEST_F(CreateTest, ABitmapOurReaderRefusesIsReadByThePictureLoader) {
  // 32 bits with bit fields in blue, green, red order: left to the platform's reader.
  BmpSpec spec;
  spec.width = 4;
  spec.height = 2;
  spec.depth = 32;
  spec.compression = 3;
  spec.masks = std::array<uint32_t, 3>{0x0000FF, 0x00FF00, 0xFF0000};
  spec.pixels = PackBmpRows(32, 4, {{0, 0xFFFFFF, 0, 0xFFFFFF}, {0xFFFFFF, 0, 0xFFFFFF, 0}});
  Put("bgr.bmp", BuildBmp(spec));
  // The index file is named by the name cut at the first ".jov".
  lib = dir.filePath("a.jov.jov");
  EXPECT_EQ(Create(false), 1);
  EXPECT_TRUE(QFile::exists(dir.filePath("a.JOX")));
  TJOV jov;
  ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
  const QImage* image = jov.ImageAt(0);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixel(0, 0), qRgb(0, 0, 0));
  EXPECT_EQ(image->pixel(1, 0), qRgb(255, 255, 255));
  EXPECT_EQ(image->pixel(0, 1), qRgb(255, 255, 255));
}

TEST(PlacementText, TheCommaRule) {
  const struct {
    const char* text;
    int x, y;
  } cases[] = {{"12,-3", 12, -3}, {"7", 0, 7}, {",5", 0, 5},    {"3,", 3, 0},
               {"a,b", 0, 0},     {"", 0, 0},  {"1,2,3", 1, 2}, {"$10,0x10", 16, 16}};
  for (const auto& c : cases) {
    const TPlacement p = ParsePlacementText(QString::fromUtf8(c.text));
    EXPECT_EQ(p.x, c.x) << c.text;
    EXPECT_EQ(p.y, c.y) << c.text;
  }
}

TEST_F(CreateTest, TheBitmapPaletteIsTheBytesFromByte54AsTheyStand) {
  // A 24-bit first bitmap: its pixel bytes become the palette, 0 where the file ends.
  BmpSpec spec;
  spec.width = 4;
  spec.height = 2;
  spec.depth = 24;
  spec.pixels = PackBmpRows(24, 4, RandomBmpPixels(4, 2, 24, 7));
  const QByteArray first = BuildBmp(spec);
  Put("0.bmp", first);
  Put("1.bmp", Bitmap8(4, 2, 1));
  Create(true);
  QByteArray palette = first.mid(54);
  palette.resize(1024, '\0');
  EXPECT_EQ(ReadFileBytes(lib).mid(56, 1024), palette);
}

TEST_F(CreateTest, AFailedRunLeavesTheOldLibraryAsItWas) {
  LibraryBuilder old(0);
  old.Add8(4, 2, 3, 4, Stored(4, 2, 9));
  old.Write(dir.path(), "new");
  const QByteArray oldData = ReadFileBytes(lib), oldIndex = ReadFileBytes(index);
  const struct {
    const char* name;
    std::function<void()> lay;
    bool fromBitmap;
  } cases[] = {
      {"a file no reader takes", [&] { Put("000001.bmp", "BM garbage"); }, false},
      {"a placement file of one line",
       [&] { WriteFileBytes(folder + "/Placements/000001.txt", "5\r\n"); }, false},
      {"no bitmap to take the palette from",
       [&] {
         QDir(folder).removeRecursively();
         QDir().mkpath(folder);
       },
       true},
      {"a folder that is not there", [&] { QDir(folder).removeRecursively(); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QDir().mkpath(folder + "/Placements");
    Put("000000.bmp", Bitmap8(4, 2, 1));
    Put("000001.bmp", Bitmap8(8, 2, 1));
    Put("000002.bmp", Bitmap8(8, 4, 1));
    QFile::remove(folder + "/Placements/000001.txt");
    c.lay();
    EXPECT_THROW(Create(c.fromBitmap), EJovError);
    EXPECT_EQ(ReadFileBytes(lib), oldData);
    EXPECT_EQ(ReadFileBytes(index), oldIndex);
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();
  }
  // A target in a folder that is not there: the templates cannot be written.
  EXPECT_THROW(CreateLibrary({dir.path(), dir.filePath("no/such/x.jov"), false, {}}), EJovError);
}

TEST_F(CreateTest, ExportedImagesComeBackAsTheyWere) {
  LibraryBuilder source(0);
  const struct {
    int16_t w, h, px, py;
  } images[] = {{8, 4, -5, 7}, {4, 2, 0, 0}, {12, 9, 300, -300}, {4, 1, 9, 9}, {16, 16, -1, -2}};
  for (size_t i = 0; i < std::size(images); ++i)
    source.Add8(images[i].w, images[i].h, images[i].px, images[i].py,
                Stored(images[i].w, images[i].h, uint8_t(20 * i + 1)));
  const QString src = source.Write(dir.path(), "source");
  TJOV jov;
  ASSERT_EQ(jov.Open(src), TOpenResult::Opened);
  ExportSequence(jov, folder, {0, int(std::size(images)) - 1});
  Create(true);

  TJOV back;
  ASSERT_EQ(back.Open(lib), TOpenResult::Opened);
  ASSERT_EQ(back.ImageCount(), int(std::size(images)));
  EXPECT_EQ(back.Palette(), jov.Palette());
  for (int i = 0; i < back.ImageCount(); ++i) {
    SCOPED_TRACE(i);
    if (images[i].h < 2) continue;  // too thin: the placeholder
    const uint8_t* rows = back.StoredRows8(i);
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(back.Width(), images[i].w);
    EXPECT_EQ(back.Height(), images[i].h);
    EXPECT_EQ(back.px(), images[i].px);
    EXPECT_EQ(back.py(), images[i].py);
    EXPECT_EQ(std::vector<uint8_t>(rows, rows + images[i].w * images[i].h),
              Stored(images[i].w, images[i].h, uint8_t(20 * i + 1)));
  }
}

// A library with stale bytes between and behind its records, and the same library packed.
struct Gappy {
  LibraryBuilder gappy, packed;
  explicit Gappy(int fileType) : gappy(fileType), packed(fileType) {
    const struct {
      int16_t w, h, px, py;
    } images[] = {{300, 250, -5, 7}, {4, 2, 0, 0}, {12, 9, 300, -300}, {0, 0, 1, 1}};
    for (size_t i = 0; i < std::size(images); ++i) {
      const auto& r = images[i];
      // The first record stays where the variant puts it: FileType 1 is told by it.
      if (i > 0) gappy.AddBytes(QByteArray(int(7 * i + 3), char(0xAB)));
      gappy.Add8(r.w, r.h, r.px, r.py, Stored(r.w, r.h, uint8_t(i * 30)));
      packed.Add8(r.w, r.h, r.px, r.py, Stored(r.w, r.h, uint8_t(i * 30)));
    }
    gappy.AddBytes(QByteArray(5000, 'x'));
  }
};

TEST(Compact, PacksTheRecordsAndKeepsEverythingElse) {
  for (int fileType : {0, 1}) {
    SCOPED_TRACE(fileType);
    QTemporaryDir dir;
    Gappy g(fileType);
    const QString lib = g.gappy.Write(dir.path(), "lib");
    TJOV jov;
    ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
    const int64_t oldSize =
        ReadFileBytes(lib).size() + ReadFileBytes(dir.filePath("lib.JOX")).size();
    const int64_t freed = CompactLibrary(jov);
    EXPECT_EQ(ReadFileBytes(lib), g.packed.Data());
    EXPECT_EQ(ReadFileBytes(dir.filePath("lib.JOX")), g.packed.Index());
    EXPECT_EQ(freed, oldSize - g.packed.Data().size() - g.packed.Index().size());
    EXPECT_EQ(jov.ImageCount(), 4);
    EXPECT_EQ(int(jov.FileType()), fileType);
    // Packed already: nothing more to free, and every record (the large first one, which
    // stays where it was, too) is copied into the new files.
    EXPECT_EQ(CompactLibrary(jov), 0);
    EXPECT_EQ(ReadFileBytes(lib), g.packed.Data());
  }
}

TEST(Compact, ARecordSharedByTwoEntriesIsWrittenOnce) {
  QTemporaryDir dir;
  LibraryBuilder b(0), packed(0);
  const int32_t first = b.Add8(4, 2, 1, 2, Stored(4, 2, 1));
  b.AddBytes("stale");
  b.Add8(8, 1, 3, 4, Stored(8, 1, 50));
  b.AddEntry(first);
  packed.Add8(4, 2, 1, 2, Stored(4, 2, 1));
  packed.Add8(8, 1, 3, 4, Stored(8, 1, 50));
  packed.AddEntry(first);
  const QString lib = b.Write(dir.path(), "lib");
  TJOV jov;
  ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
  EXPECT_EQ(CompactLibrary(jov), 5);
  EXPECT_EQ(ReadFileBytes(lib), packed.Data());
  EXPECT_EQ(ReadFileBytes(dir.filePath("lib.JOX")), packed.Index());
}

TEST(Compact, RefusesWhatItCannotRewrite) {
  QTemporaryDir dir;
  LibraryBuilder run16(2);
  run16.Add16(2, 1, 0, 0, RowRecord({}));
  LibraryBuilder damaged(0);
  damaged.Add8(4, 1, 0, 0, Stored(4, 1, 0));
  damaged.AddEntry(999999);  // outside the data file
  LibraryBuilder past(0);
  past.Add8(4, 1, 0, 0, Stored(4, 1, 0));
  past.AddEntry(past.NextOffset() - 2);  // a record that runs past the end
  // A header that claims far more images than the index lists: refused at the first image
  // without an entry, without room made for the rest.
  LibraryBuilder claimed(0);
  claimed.Add8(4, 1, 0, 0, Stored(4, 1, 0));
  claimed.dataCount = 1 << 30;
  for (const LibraryBuilder* b : {&run16, &damaged, &past, &claimed}) {
    const QString lib = b->Write(dir.path(), "lib");
    const QByteArray data = ReadFileBytes(lib), index = ReadFileBytes(dir.filePath("lib.JOX"));
    TJOV jov;
    ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
    EXPECT_THROW(CompactLibrary(jov), EJovError);
    EXPECT_EQ(ReadFileBytes(lib), data);
    EXPECT_EQ(ReadFileBytes(dir.filePath("lib.JOX")), index);
  }
}

TEST(CreateCrash, CreateOverALibraryAndIntoAnEmptyPlace) {
  QTemporaryDir dir(ScratchTemplate());
  const QString folder = dir.filePath("pics");
  QDir().mkpath(folder + "/Placements");
  WriteFileBytes(folder + "/a.bmp", Bitmap8(8, 2, 3));
  WriteFileBytes(folder + "/b.bmp", Bitmap8(4, 4, 50));
  WriteFileBytes(folder + "/Placements/b.txt", "-4\n6\n");
  const QString lib = dir.filePath("lib.jov"), index = dir.filePath("lib.JOX");
  auto run = [&] { return CreateLibrary({folder, lib, true, {}}) == 2; };
  ExpectCreateCrashSafe(lib, index, run, 8);  // nothing there before
  LibraryBuilder old(1);
  old.Add8(4, 2, 3, 4, Stored(4, 2, 9));
  old.Write(dir.path(), "lib");
  ExpectCreateCrashSafe(lib, index, run, 8);
}

TEST(CompactCrash, EveryStepOfACompact) {
  for (int fileType : {0, 1}) {
    QTemporaryDir dir(ScratchTemplate());
    Gappy g(fileType);
    const QString lib = g.gappy.Write(dir.path(), "lib");
    ExpectCrashSafe(
        lib, dir.filePath("lib.JOX"), [](TJOV& jov) { return CompactLibrary(jov) > 0; }, 8,
        false);  // a compacted library starts a new history
    EXPECT_EQ(ReadFileBytes(lib), g.packed.Data());
  }
}

}  // namespace
