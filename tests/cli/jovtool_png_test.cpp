// jovtool with --format png: the exchange folder as PNG files, there and back.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include "cli/jovtoolrun.h"
#include "support/libbuilder.h"

namespace {

QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Four images whose pixels use every index; entry 9 is a second black and entry 200
// repeats entry 7.
LibraryBuilder Library(int fileType) {
  LibraryBuilder b(fileType);
  for (int i : {9, 200}) {
    const int from = i == 9 ? 0 : 7;
    for (int k = 0; k < 3; ++k) b.palette[size_t(i * 4 + k)] = b.palette[size_t(from * 4 + k)];
  }
  for (int i = 0; i < 4; ++i) {
    std::vector<uint8_t> pixels(size_t(8 * (i + 1)) * 3);
    for (size_t k = 0; k < pixels.size(); ++k) pixels[k] = uint8_t(k * 29 + size_t(i));
    pixels[0] = 9;
    pixels[1] = 200;
    b.Add8(int16_t(8 * (i + 1)), 3, int16_t(-10 * i), int16_t(7 - i), pixels);
  }
  return b;
}

TEST(JovtoolPng, ExportAndImportBackChangeNoByteOnBothEightBitVariants) {
  // Each import takes the PNG folder the export of its range wrote; the library must come
  // out as it went in.
  const QStringList runs[] = {
      {"--replace", "0", "3"},
      {"--replace", "1", "2"},
      {"--pixels", "0", "3"},
  };
  for (int fileType : {0, 1}) {
    for (const QStringList& run : runs) {
      SCOPED_TRACE(testing::Message() << fileType << " " << run.join(' ').toStdString());
      QTemporaryDir dir;
      const QString lib = Library(fileType).Write(dir.path(), "lib");
      const QByteArray data = ReadBytes(lib), index = ReadBytes(dir.filePath("lib.JOX"));
      const QString out = dir.filePath("out");
      ASSERT_TRUE(QDir().mkpath(out));
      const ToolRun exported = Jovtool(
          {"export", lib, out, "--from", run[1], "--to", run[2], "--format", "png", "--quiet"});
      ASSERT_EQ(exported.code, 0) << exported.err.toStdString();
      EXPECT_EQ(QDir(out).entryList({"*.png"}, QDir::Files).size(),
                run[2].toInt() - run[1].toInt() + 1);
      EXPECT_EQ(ReadBytes(out + "/Placements/000002.txt"), QByteArray("-20\r\n5\r\n"));
      const ToolRun imported =
          Jovtool(QStringList{"import", lib, out} + run + QStringList{"--format", "png"});
      ASSERT_EQ(imported.code, 0) << imported.err.toStdString();
      EXPECT_EQ(ReadBytes(lib), data);
      EXPECT_EQ(ReadBytes(dir.filePath("lib.JOX")), index);
    }
  }
}

TEST(JovtoolPng, AddAndCreateTakeOnlyThePngFilesAndTheirOffsets) {
  QTemporaryDir dir;
  const QString lib = Library(1).Write(dir.path(), "lib");
  const QString out = dir.filePath("out");
  ASSERT_TRUE(QDir().mkpath(out));
  ASSERT_EQ(Jovtool({"export", lib, out, "--format", "png", "--from", "2", "--quiet"}).code, 0);
  ASSERT_EQ(Jovtool({"export", lib, out, "--to", "0", "--quiet"}).code, 0);  // a bitmap beside
  // Without placement files the offsets carry the placements.
  ASSERT_TRUE(QDir(out + "/Placements").removeRecursively());
  ASSERT_EQ(Jovtool({"import", lib, out, "--add", "--format", "png", "--quiet"}).code, 0);
  const ToolRun created = Jovtool(
      {"create", dir.filePath("new.jov"), out, "--format", "png", "--palette", "bmp", "--quiet"});
  ASSERT_EQ(created.code, 0) << created.err.toStdString();
  const QString added = Jovtool({"info", lib}).out;
  EXPECT_TRUE(added.contains("images: 6\n"));
  EXPECT_TRUE(added.endsWith("4 24x3 -20 5\n5 32x3 -30 4\n")) << added.toStdString();
  EXPECT_TRUE(Jovtool({"info", dir.filePath("new.jov")})
                  .out.endsWith("images: 2\n0 24x3 -20 5\n1 32x3 -30 4\n"));
}

TEST(JovtoolPng, ExportOneWritesAPngAndAnUnknownFormatIsAUsageError) {
  QTemporaryDir dir;
  const QString lib = Library(0).Write(dir.path(), "lib");
  const QString png = dir.filePath("one.pic");
  const ToolRun one = Jovtool({"export-one", lib, "1", png, "--format", "png"});
  ASSERT_EQ(one.code, 0) << one.err.toStdString();
  EXPECT_EQ(one.out, QStringLiteral("导出图片成功！\n"));
  QImageReader reader(png);
  EXPECT_EQ(reader.format(), "png");
  EXPECT_EQ(reader.read().offset(), QPoint(-10, 6));
  EXPECT_EQ(Jovtool({"export-one", lib, "1", dir.filePath("b.bmp")}).code, 0);
  EXPECT_EQ(QImageReader(dir.filePath("b.bmp")).format(), "bmp");

  const QStringList bad[] = {
      {"export-one", lib, "1", png, "--format", "gif"},
      {"export", lib, dir.path(), "--format", "PNG"},
      {"import", lib, dir.path(), "--add", "--format", ""},
      {"create", dir.filePath("n.jov"), dir.path(), "--format", "jpg"},
  };
  const QByteArray before = ReadBytes(lib);
  for (const QStringList& args : bad) {
    const ToolRun r = Jovtool(args);
    EXPECT_EQ(r.code, 2) << args.join(' ').toStdString();
    EXPECT_TRUE(r.err.startsWith("jovtool: --format is bmp or png")) << r.err.toStdString();
  }
  EXPECT_EQ(ReadBytes(lib), before);
  EXPECT_FALSE(QFile::exists(dir.filePath("n.jov")));
}

}  // namespace
