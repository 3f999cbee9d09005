// PNG files as exchange pictures: what the export writes (read back by Qt and by an
// independent reader), what the import makes of them, and the round trip that must not
// change a byte.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>

#include "common/errors.h"
#include "editing/batchimport.h"
#include "editing/createlib.h"
#include "editing/exchange.h"
#include "editing/export.h"
#include "editing/pictureloader.h"
#include "library/jovformat.h"
#include "library/myjov.h"
#include "library/tolibrary.h"
#include "support/libbuilder.h"

namespace {

QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QRgb PaletteColour(const std::array<uint8_t, 1024>& palette, int i) {
  return qRgb(palette[size_t(i) * 4 + 2], palette[size_t(i) * 4 + 1], palette[size_t(i) * 4]);
}

void SetColour(std::array<uint8_t, 1024>& palette, int i, QRgb c) {
  palette[size_t(i) * 4] = uint8_t(qBlue(c));
  palette[size_t(i) * 4 + 1] = uint8_t(qGreen(c));
  palette[size_t(i) * 4 + 2] = uint8_t(qRed(c));
}

// Entries 9 and 0 are both black; entry 200 repeats entry 7.
void RepeatColours(LibraryBuilder& b) {
  SetColour(b.palette, 9, qRgb(0, 0, 0));
  SetColour(b.palette, 200, PaletteColour(b.palette, 7));
}

// w x h pixels (bottom row first) that use every index, the repeated ones included.
std::vector<uint8_t> Pixels(int w, int h, int seed) {
  std::vector<uint8_t> p(size_t(w) * size_t(h));
  for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t((i * 37 + size_t(seed) * 11) % 256);
  p[0] = 9;
  p[1] = 200;
  p[2] = 0;
  return p;
}

class PngTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  QString Out(const QString& name = QString()) { return dir.filePath("out/" + name); }
  void Open(TJOV& jov, const QString& path) {
    jov.FileName = path;
    ASSERT_EQ(jov.Open(), TOpenResult::Opened);
  }
};

TEST_F(PngTest, EightBitImagesAreIndexedWithBlackTransparentAndTheirPlacementAsOffset) {
  for (int fileType : {0, 1}) {
    LibraryBuilder b(fileType);
    RepeatColours(b);
    const std::vector<uint8_t> pixels = Pixels(8, 3, fileType);
    b.Add8(8, 3, -12, 40, pixels);
    TJOV jov;
    Open(jov, b.Write(dir.path(), QStringLiteral("lib%1").arg(fileType)));
    const QString path = dir.filePath("one.png");
    ExportImage(jov, 0, path, TPictureFileFormat::Png);
    QImageReader reader(path);
    EXPECT_EQ(reader.format(), "png");
    const QImage png = reader.read();
    ASSERT_EQ(png.format(), QImage::Format_Indexed8) << fileType;
    EXPECT_EQ(png.size(), QSize(8, 3));
    EXPECT_EQ(png.offset(), QPoint(-12, 40));
    ASSERT_EQ(png.colorCount(), 256);
    for (int i = 0; i < 256; ++i) {
      const QRgb c = PaletteColour(b.palette, i);
      EXPECT_EQ(png.color(i), (c & 0xFFFFFF) == 0 ? qRgba(0, 0, 0, 0) : c) << i;
    }
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 8; ++x)
        EXPECT_EQ(png.pixelIndex(x, y), pixels[size_t(2 - y) * 8 + size_t(x)]) << x << "," << y;
    EXPECT_EQ(jov.px, -12);  // the fetch describes the image, as for bitmaps
  }
}

TEST_F(PngTest, RunCodedImagesAreRgbaWithBlackPixelsTransparent) {
  LibraryBuilder b(2);
  // Red, green, blue; the fourth pixel is skipped by the row codes, so black.
  b.Add16(4, 1, 3, -4, {0, 6, 0xC1, 3, 0xF800, 0x07E0, 0x001F});
  TJOV jov;
  Open(jov, b.Write(dir.path(), "lib"));
  ExportImage(jov, 0, dir.filePath("w.png"), TPictureFileFormat::Png);
  const QImage png(dir.filePath("w.png"));
  ASSERT_EQ(png.size(), QSize(4, 1));
  EXPECT_TRUE(png.hasAlphaChannel());
  EXPECT_EQ(png.offset(), QPoint(3, -4));
  const QImage argb = png.convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(QList<QRgb>({argb.pixel(0, 0), argb.pixel(1, 0), argb.pixel(2, 0), argb.pixel(3, 0)}),
            QList<QRgb>({qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgba(0, 0, 0, 0)}));
}

TEST_F(PngTest, SequenceNamesListsAndFormatsByExtension) {
  EXPECT_EQ(ExchangeBitmapName(12, TPictureFileFormat::Png), "000012.png");
  EXPECT_EQ(ExchangeBitmapName(1000000, TPictureFileFormat::Png), "1000000.png");
  struct Case {
    QString name;
    TPictureFileFormat fallback, expected;
  } cases[] = {
      {"a.PNG", TPictureFileFormat::Bmp, TPictureFileFormat::Png},
      {"a.bmp", TPictureFileFormat::Png, TPictureFileFormat::Bmp},
      {"a", TPictureFileFormat::Png, TPictureFileFormat::Png},
      {"a.jpg", TPictureFileFormat::Bmp, TPictureFileFormat::Bmp},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PictureFileFormatOf(c.name, c.fallback), c.expected) << c.name.toStdString();
  for (const char* bad : {"", "PNG", "gif"}) EXPECT_FALSE(PictureFileFormatNamed(bad)) << bad;

  LibraryBuilder b(0);
  for (int i = 0; i < 3; ++i) b.Add8(4, 1, int16_t(i), 0, Pixels(4, 1, i));
  TJOV jov;
  Open(jov, b.Write(dir.path(), "lib"));
  ASSERT_TRUE(QDir().mkpath(Out()));
  WriteFileBytes(Out("x.Png"), ReadBytes(dir.filePath("lib.jov")));  // listed, not a picture
  ExportSequence(jov, Out(), {1, 2}, nullptr, TPictureFileFormat::Png);
  EXPECT_EQ(ListBitmapFiles(Out(), TPictureFileFormat::Png),
            QStringList({"000001.png", "000002.png", "x.Png"}));
  EXPECT_TRUE(ListBitmapFiles(Out()).isEmpty());
  EXPECT_EQ(ReadBytes(Out("Placements/000002.txt")), QByteArray("2\r\n0\r\n"));
}

// Export a range as PNG, touch nothing, import it back over the same range: both files
// are as they were, byte for byte, also where the palette holds a colour twice.
TEST_F(PngTest, ARoundTripOverTheSameRangeChangesNoByte) {
  struct Case {
    int fileType;
    bool repeated;
    int begin, end;
  } cases[] = {{0, false, 0, 3}, {1, false, 1, 2}, {0, true, 0, 3}, {1, true, 2, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fileType << (c.repeated ? " repeated" : ""));
    LibraryBuilder b(c.fileType);
    if (c.repeated) RepeatColours(b);
    for (int i = 0; i < 4; ++i)
      b.Add8(int16_t(4 * (i + 1)), int16_t(2 + i), int16_t(-i * 7), int16_t(300 * i),
             Pixels(4 * (i + 1), 2 + i, i));
    const QString name = QStringLiteral("rt%1%2").arg(c.fileType).arg(c.repeated);
    const QString path = b.Write(dir.path(), name);
    const QByteArray data = ReadBytes(path), index = ReadBytes(dir.filePath(name + ".JOX"));
    const QString folder = dir.filePath(name + "-out");
    ASSERT_TRUE(QDir().mkpath(folder));
    TJOV jov;
    Open(jov, path);
    ExportSequence(jov, folder, {c.begin, c.end}, nullptr, TPictureFileFormat::Png);
    ImportReplace(jov, folder, ListBitmapFiles(folder, TPictureFileFormat::Png), {}, c.begin,
                  c.end);
    jov.Close();
    EXPECT_EQ(ReadBytes(path), data);
    EXPECT_EQ(ReadBytes(dir.filePath(name + ".JOX")), index);
  }
}

// What the conversion makes of an indexed picture: its indices when its colours are the
// palette's (alpha aside, transparent entries counting as black), else nearest colours.
TEST(PngIndices, KeptOnlyWhereTheColoursAreThePalettes) {
  LibraryBuilder b(0);
  RepeatColours(b);
  TColorTable palette;
  std::copy(b.palette.begin(), b.palette.end(), palette.begin());
  QList<QRgb> same(256);
  for (int i = 0; i < 256; ++i) same[i] = PaletteColour(b.palette, i);
  QList<QRgb> transparent = same;
  transparent[9] = qRgba(0, 0, 0, 0);
  transparent[0] = qRgba(0, 0, 0, 0);
  QList<QRgb> oneOff = same;
  oneOff[255] = qRgb(1, 2, 3);
  QList<QRgb> hiddenColour = same;  // shown black, where the palette is not
  hiddenColour[200] = PaletteColour(b.palette, 200) & 0xFFFFFF;
  struct Case {
    const char* name;
    QList<QRgb> table;
    uint8_t of9, of200;  // the stored index of pixels 9 and 200
  } cases[] = {
      {"same", same, 9, 200},
      {"transparent black", transparent, 9, 200},
      {"one colour differs", oneOff, 0, 7},
      {"a coloured entry transparent", hiddenColour, 0, 0},
      {"short table", same.mid(0, 201), 0, 7},
  };
  for (const Case& c : cases) {
    QImage picture(4, 1, QImage::Format_Indexed8);
    picture.setColorTable(c.table);
    for (int x = 0; x < 4; ++x) picture.setPixel(x, 0, x % 2 ? 200u : 9u);
    TDIB work;
    ToLibraryBitmap(work, palette, picture);
    ASSERT_EQ(work.PixelWidth(), 4) << c.name;
    const uint8_t* row = work.PixelData();
    EXPECT_EQ(QList<int>({row[0], row[1], row[2], row[3]}),
              QList<int>({c.of9, c.of200, c.of9, c.of200}))
        << c.name;
  }
}

// A PNG picture without a placement file is placed by its offset; its placement file,
// where there is one, wins; the typed pair wins over both.
TEST_F(PngTest, APictureWithoutPlacementFileTakesItsOffset) {
  const QString in = dir.filePath("in/");
  ASSERT_TRUE(QDir().mkpath(in + "Placements"));
  for (int i = 0; i < 2; ++i) {
    QImage picture(4, 2, QImage::Format_ARGB32);
    picture.fill(qRgba(200, 10, 10, 255));
    picture.setOffset(QPoint(-20 - i, 30 + i));
    ASSERT_TRUE(picture.save(in + QStringLiteral("p%1.png").arg(i)));
  }
  WriteFileBytes(in + "Placements/p1.txt", "5\r\n6\r\n");
  struct Case {
    const char* name;
    TImportPlacements placements;
    int x0, y0, x1, y1;
  } cases[] = {
      {"from the folder", {}, -20, 30, 5, 6},
      {"typed", {true, {7, 8}}, 7, 8, 7, 8},
  };
  for (const Case& c : cases) {
    LibraryBuilder b(1);
    b.Add8(4, 1, 0, 0, Pixels(4, 1, 0));
    TJOV jov;
    Open(jov, b.Write(dir.path(), "add"));
    ImportAdd(jov, in, ListBitmapFiles(in, TPictureFileFormat::Png), c.placements);
    ASSERT_EQ(jov.ImageCount, 3) << c.name;
    jov.ImageAt(1);
    EXPECT_EQ(QPoint(jov.px, jov.py), QPoint(c.x0, c.y0)) << c.name;
    jov.ImageAt(2);
    EXPECT_EQ(QPoint(jov.px, jov.py), QPoint(c.x1, c.y1)) << c.name;
  }
  TCreateOptions options;
  options.folder = in;
  options.dataPath = dir.filePath("new.jov");
  options.format = TPictureFileFormat::Png;
  ASSERT_EQ(CreateLibrary(options), 2);
  TJOV created;
  Open(created, options.dataPath);
  created.ImageAt(0);
  EXPECT_EQ(QPoint(created.px, created.py), QPoint(-20, 30));
  created.ImageAt(1);
  EXPECT_EQ(QPoint(created.px, created.py), QPoint(5, 6));
}

// A library made from exported PNG files with the palette of the first one is the
// exported library again: its palette, pixels and placements.
TEST_F(PngTest, CreateTakesThePaletteOfTheFirstPng) {
  LibraryBuilder b(0);
  RepeatColours(b);
  b.Add8(8, 2, -3, 4, Pixels(8, 2, 1));
  b.Add8(4, 3, 5, -6, Pixels(4, 3, 2));
  TJOV jov;
  Open(jov, b.Write(dir.path(), "src"));
  ASSERT_TRUE(QDir().mkpath(Out()));
  ExportSequence(jov, Out(), {0, 1}, nullptr, TPictureFileFormat::Png);
  QDir(Out("Placements")).removeRecursively();  // the offsets carry the placements
  TCreateOptions options;
  options.folder = Out();
  options.dataPath = dir.filePath("again.jov");
  options.format = TPictureFileFormat::Png;
  options.paletteFromFirstBitmap = true;
  ASSERT_EQ(CreateLibrary(options), 2);
  TJOV again;
  Open(again, options.dataPath);
  EXPECT_EQ(again.Palette, b.palette);
  EXPECT_EQ(ReadBytes(options.dataPath).mid(jov::kFirstRecord), b.Data().mid(jov::kFirstRecord));
  EXPECT_EQ(ReadBytes(dir.filePath("again.JOX")).mid(jov::kIndexHeaderSize),
            b.Index().mid(jov::kIndexHeaderSize));

  // A first picture without a palette is refused, and nothing is made.
  const QString rgb = dir.filePath("rgb/");
  ASSERT_TRUE(QDir().mkpath(rgb));
  QImage picture(4, 1, QImage::Format_RGB32);
  picture.fill(Qt::red);
  ASSERT_TRUE(picture.save(rgb + "a.png"));
  options.folder = rgb;
  options.dataPath = dir.filePath("none.jov");
  EXPECT_THROW(CreateLibrary(options), EJovError);
  EXPECT_FALSE(QFile::exists(options.dataPath));
}

// An independent reader sees the palette, the transparency and the size; skipped where
// Python's imaging library is not installed.
TEST_F(PngTest, PillowReadsPaletteTransparencyAndSize) {
  QString python;
  for (const char* candidate : {"python3", "/usr/bin/python3"}) {
    QProcess probe;
    probe.start(candidate, {"-c", "import PIL"});
    if (probe.waitForFinished(20000) && probe.exitStatus() == QProcess::NormalExit &&
        probe.exitCode() == 0) {
      python = candidate;
      break;
    }
  }
  if (python.isEmpty()) GTEST_SKIP() << "Pillow is not installed";

  LibraryBuilder b(1);
  RepeatColours(b);
  b.Add8(12, 5, 0, 0, Pixels(12, 5, 3));
  TJOV jov;
  Open(jov, b.Write(dir.path(), "lib"));
  const QString path = dir.filePath("p.png");
  ExportImage(jov, 0, path, TPictureFileFormat::Png);
  // One line each: mode, size, palette (r g b ...), alpha of every entry, and the first
  // row's indices.
  const char* script =
      "import sys\n"
      "from PIL import Image\n"
      "im = Image.open(sys.argv[1])\n"
      "t = im.info.get('transparency', b'')\n"
      "alpha = [t[i] if i < len(t) else 255 for i in range(256)]\n"
      "print(im.mode, im.size[0], im.size[1])\n"
      "print(' '.join(map(str, im.getpalette()[:768])))\n"
      "print(' '.join(map(str, alpha)))\n"
      "print(' '.join(str(im.getpixel((x, 0))) for x in range(im.size[0])))\n";
  QProcess run;
  run.start(python, {"-c", script, path});
  ASSERT_TRUE(run.waitForFinished(60000));
  ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
  const QStringList lines = QString::fromLatin1(run.readAllStandardOutput()).split('\n');
  ASSERT_GE(lines.size(), 4);
  EXPECT_EQ(lines[0], "P 12 5");
  QStringList palette, alpha, row;
  for (int i = 0; i < 256; ++i) {
    const QRgb c = PaletteColour(b.palette, i);
    palette << QString::number(qRed(c)) << QString::number(qGreen(c)) << QString::number(qBlue(c));
    alpha << ((c & 0xFFFFFF) == 0 ? "0" : "255");
  }
  const std::vector<uint8_t> pixels = Pixels(12, 5, 3);
  for (int x = 0; x < 12; ++x) row << QString::number(pixels[4 * 12 + size_t(x)]);  // top row
  EXPECT_EQ(lines[1], palette.join(' '));
  EXPECT_EQ(lines[2], alpha.join(' '));
  EXPECT_EQ(lines[3], row.join(' '));
}

}  // namespace
