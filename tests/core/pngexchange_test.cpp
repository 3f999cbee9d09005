// PNG files as exchange pictures: what the export writes (read back by Qt and by an
// independent reader), which indices the import keeps, and the round trip that must not
// change a byte.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "editing/batchimport.h"
#include "editing/exchange.h"
#include "editing/export.h"
#include "library/myjov.h"
#include "library/tolibrary.h"
#include "support/libbuilder.h"

namespace {

QRgb Colour(const std::array<uint8_t, 1024>& palette, int i) {
  return qRgb(palette[size_t(i) * 4 + 2], palette[size_t(i) * 4 + 1], palette[size_t(i) * 4]);
}

// A library whose palette holds black at 0 and 9 and entry 7's colour again at 200, with
// images of w x 3 for every w given, their pixels using those entries.
LibraryBuilder Library(int fileType, std::initializer_list<int16_t> widths) {
  LibraryBuilder b(fileType);
  for (int k = 0; k < 3; ++k) {
    b.palette[9 * 4 + size_t(k)] = 0;
    b.palette[200 * 4 + size_t(k)] = b.palette[7 * 4 + size_t(k)];
  }
  int16_t i = 0;
  for (const int16_t w : widths) {
    std::vector<uint8_t> pixels(size_t(w) * 3);
    for (size_t k = 0; k < pixels.size(); ++k) pixels[k] = uint8_t(k * 37 + size_t(i) * 11);
    pixels[0] = 9, pixels[1] = 200, pixels[2] = 0;
    b.Add8(w, 3, int16_t(-12 * i), int16_t(40 - i), pixels);
    ++i;
  }
  return b;
}

TEST(PngExport, IndexedOrRgbaWithBlackTransparentAndThePlacementAsOffset) {
  QTemporaryDir dir;
  for (int fileType : {0, 1, 2}) {
    LibraryBuilder b = fileType == 2 ? LibraryBuilder(2) : Library(fileType, {8, 8});
    // Red, green, blue; the fourth pixel is skipped by the row codes, so black.
    if (fileType == 2)
      b.Add16(4, 1, 0, 0, {}), b.Add16(4, 1, -12, 39, {0, 6, 0xC1, 3, 0xF800, 0x07E0, 0x001F});
    TJOV jov;
    ASSERT_EQ(jov.Open(b.Write(dir.path(), QStringLiteral("lib%1").arg(fileType))),
              TOpenResult::Opened);
    const QString path = dir.filePath("one.png");
    ExportImage(jov, 1, path, TPictureFileFormat::Png);
    const QImage png(path);
    EXPECT_EQ(png.offset(), QPoint(-12, 39)) << fileType;
    if (fileType == 2) {
      const QImage argb = png.convertToFormat(QImage::Format_ARGB32);
      EXPECT_EQ(
          QList<QRgb>({argb.pixel(0, 0), argb.pixel(1, 0), argb.pixel(2, 0), argb.pixel(3, 0)}),
          QList<QRgb>({qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), 0}));
      continue;
    }
    ASSERT_EQ(png.format(), QImage::Format_Indexed8) << fileType;
    ASSERT_EQ(png.colorCount(), 256);
    for (int i = 0; i < 256; ++i) {
      const QRgb c = Colour(b.palette, i);
      EXPECT_EQ(png.color(i), (c & 0xFFFFFF) == 0 ? 0 : c) << i;
    }
    const QImage* shown = jov.ImageAt(1);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 8; ++x) EXPECT_EQ(png.pixelIndex(x, y), shown->pixelIndex(x, y));
  }
}

// Export a range as PNG, touch nothing, import it back over the same range: both files
// are as they were, byte for byte, on both 8-bit variants, with repeated colours and with
// widths that are not a multiple of 4 (a 1 x 1 placeholder among them).
TEST(PngExport, ARoundTripOverTheSameRangeChangesNoByte) {
  QTemporaryDir dir;
  for (const auto& [fileType, begin, end] :
       {std::tuple{0, 0, 5}, {1, 1, 2}, {1, 3, 3}, {0, 4, 5}, {1, 0, 5}}) {
    SCOPED_TRACE(testing::Message() << fileType << " " << begin << ".." << end);
    const QString name = QStringLiteral("rt%1%2%3").arg(fileType).arg(begin).arg(end);
    LibraryBuilder b = Library(fileType, {4, 8, 12, 16, 6});
    b.Add8(1, 1, 1, 1, {0});
    const QString path = b.Write(dir.path(), name);
    const QByteArray data = ReadFileBytes(path), index = ReadFileBytes(dir.filePath(name + ".JOX"));
    const QString folder = dir.filePath(name + "-out");
    ASSERT_TRUE(QDir().mkpath(folder));
    TJOV jov;
    ASSERT_EQ(jov.Open(path), TOpenResult::Opened);
    ExportSequence(jov, folder, {begin, end}, nullptr, TPictureFileFormat::Png);
    ImportReplace(jov, folder, ListBitmapFiles(folder, TPictureFileFormat::Png), {}, begin, end);
    jov.Close();
    EXPECT_EQ(ReadFileBytes(path), data);
    EXPECT_EQ(ReadFileBytes(dir.filePath(name + ".JOX")), index);
  }
}

// An indexed picture keeps its indices when its colours are the palette's (alpha aside,
// a transparent entry counting as black), else takes the nearest colours.
TEST(PngIndices, KeptOnlyWhereTheColoursAreThePalettes) {
  const LibraryBuilder b = Library(0, {});
  TColorTable palette;
  std::copy(b.palette.begin(), b.palette.end(), palette.begin());
  QList<QRgb> same(256);
  for (int i = 0; i < 256; ++i) same[i] = Colour(b.palette, i);
  const auto with = [&](int i, QRgb c) {
    QList<QRgb> t = same;
    t[i] = c;
    return t;
  };
  const struct {
    const char* name;
    QList<QRgb> table;
    int of9, of200;  // the stored index of pixels 9 and 200
  } cases[] = {
      {"same", same, 9, 200},
      {"black transparent", with(9, 0), 9, 200},
      {"one colour differs", with(255, qRgb(1, 2, 3)), 0, 7},
      {"a colour transparent", with(200, same[200] & 0xFFFFFF), 0, 0},
      {"short table", same.mid(0, 201), 0, 7},
  };
  for (const auto& c : cases) {
    QImage picture(4, 1, QImage::Format_Indexed8);
    picture.setColorTable(c.table);
    for (int x = 0; x < 4; ++x) picture.setPixel(x, 0, x % 2 ? 200u : 9u);
    TDIB work;
    ToLibraryBitmap(work, palette, picture);
    const uint8_t* row = work.PixelData();
    EXPECT_EQ(QList<int>({row[0], row[1], row[2], row[3]}),
              QList<int>({c.of9, c.of200, c.of9, c.of200}))
        << c.name;
  }
}

// An independent reader sees the palette, the transparency and the pixels; skipped where
// Python's imaging library is not installed.
TEST(PngExport, PillowReadsPaletteTransparencyAndPixels) {
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
  QTemporaryDir dir;
  const LibraryBuilder b = Library(1, {12});
  TJOV jov;
  ASSERT_EQ(jov.Open(b.Write(dir.path(), "lib")), TOpenResult::Opened);
  ExportImage(jov, 0, dir.filePath("p.png"), TPictureFileFormat::Png);
  // Mode and size; then per entry r g b alpha; then the top row.
  const char* script =
      "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
      "t = im.info.get('transparency', b'')\np = im.getpalette()\n"
      "print(im.mode, im.size)\n"
      "print(' '.join('%d,%d,%d,%d' % (*p[3*i:3*i+3], t[i] if i < len(t) else 255) "
      "for i in range(256)))\n"
      "print(' '.join(str(im.getpixel((x, 0))) for x in range(im.size[0])))\n";
  QProcess run;
  run.start(python, {"-c", script, dir.filePath("p.png")});
  ASSERT_TRUE(run.waitForFinished(60000));
  const QStringList lines = QString::fromLatin1(run.readAllStandardOutput()).split('\n');
  ASSERT_GE(lines.size(), 3) << run.readAllStandardError().toStdString();
  QStringList entries, row;
  for (int i = 0; i < 256; ++i) {
    const QRgb c = Colour(b.palette, i);
    entries << QStringLiteral("%1,%2,%3,%4")
                   .arg(qRed(c))
                   .arg(qGreen(c))
                   .arg(qBlue(c))
                   .arg((c & 0xFFFFFF) ? 255 : 0);
  }
  const QImage* shown = jov.ImageAt(0);
  for (int x = 0; x < 12; ++x) row << QString::number(shown->pixelIndex(x, 0));
  EXPECT_EQ(lines[0], "P (12, 3)");
  EXPECT_EQ(lines[1], entries.join(' '));
  EXPECT_EQ(lines[2], row.join(' '));
}

}  // namespace
