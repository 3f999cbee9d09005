// jovtool with --format png: the exchange folder as PNG files, there and back.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "cli/jovtoolrun.h"
#include "support/libbuilder.h"

namespace {

TEST(JovtoolPng, ExportImportAndCreateBringTheImagesBackUnchanged) {
  QTemporaryDir dir;
  LibraryBuilder b(0);
  for (int k = 0; k < 3; ++k) b.palette[200 * 4 + size_t(k)] = b.palette[7 * 4 + size_t(k)];
  for (int16_t i = 0; i < 3; ++i)
    b.Add8(int16_t(8 * (i + 1)), 3, int16_t(-10 * i), int16_t(7 - i),
           std::vector<uint8_t>(size_t(24 * (i + 1)), i == 1 ? 200 : uint8_t(i)));
  const QString lib = b.Write(dir.path(), "lib"), out = dir.filePath("out");
  const QByteArray data = ReadFileBytes(lib), index = ReadFileBytes(dir.filePath("lib.JOX"));
  ASSERT_TRUE(QDir().mkpath(out));
  // Each step and its exit status; none changes a byte of the library.
  const struct {
    QStringList args;
    int code;
  } steps[] = {
      {{"export", lib, out, "--format", "png", "--quiet"}, 0},
      {{"import", lib, out, "--replace", "0", "2", "--format", "png", "--quiet"}, 0},
      {{"import", lib, out, "--pixels", "0", "2", "--format", "png", "--quiet"}, 0},
      {{"export", lib, dir.path(), "--format", "PNG"}, 2},
      {{"import", lib, out, "--add", "--format", ""}, 2},
      {{"export-one", lib, "1", out + "/x.bmp", "--format", "gif"}, 2},
  };
  for (const auto& s : steps) {
    const ToolRun r = Jovtool(s.args);
    EXPECT_EQ(r.code, s.code) << s.args.join(' ').toStdString() << r.err.toStdString();
    EXPECT_EQ(ReadFileBytes(lib), data);
    EXPECT_EQ(ReadFileBytes(dir.filePath("lib.JOX")), index);
  }
  EXPECT_EQ(ReadFileBytes(out + "/Placements/000002.txt"), QByteArray("-20\r\n5\r\n"));
  // Without placement files the offsets carry the placements, and the first file the
  // palette: the new library holds the same palette and records.
  ASSERT_TRUE(QDir(out + "/Placements").removeRecursively());
  const ToolRun created =
      Jovtool({"create", dir.filePath("new.jov"), out, "--format", "png", "--palette", "bmp"});
  ASSERT_EQ(created.code, 0) << created.err.toStdString();
  EXPECT_EQ(ReadFileBytes(dir.filePath("new.jov")).mid(56), data.mid(56));
  EXPECT_EQ(ReadFileBytes(dir.filePath("new.JOX")).mid(48), index.mid(48));
}

}  // namespace
