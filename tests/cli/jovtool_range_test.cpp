// jovtool add --insert-at, delete and clear: the dialogs' changes from the command line.

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "cli/jovtoolrun.h"
#include "support/libbuilder.h"

namespace {

std::vector<uint8_t> Solid(int w, int h, uint8_t v) {
  return std::vector<uint8_t>(size_t(w * h), v);
}

class JovtoolRange : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  QString lib, picture;
  void SetUp() override {
    LibraryBuilder b(0);
    for (int16_t i = 0; i < 4; ++i) b.Add8(8, 2, i, int16_t(-i), Solid(8, 2, uint8_t(i + 1)));
    lib = b.Write(dir.path(), "lib");
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::black);
    picture = dir.filePath("p.png");
    image.save(picture);
  }
  QString Info() { return Jovtool({"info", lib}).out.section('\n', 1); }
  QByteArray Library() { return ReadFileBytes(lib) + ReadFileBytes(dir.filePath("lib.JOX")); }
};

TEST_F(JovtoolRange, InsertDeleteAndClearChangeTheLibraryAsTheDialogsDo) {
  ToolRun r = Jovtool({"add", lib, picture, "--insert-at", "1", "--placement", "70000,-2"});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, QStringLiteral("加入图片成功！\n"));
  EXPECT_EQ(Info(), "images: 5\n0 8x2 0 0\n1 4x2 4464 -2\n2 8x2 1 -1\n3 8x2 2 -2\n4 8x2 3 -3\n");
  r = Jovtool({"clear", lib, "2", "0x3"});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, QStringLiteral("删除成功\n"));
  EXPECT_EQ(Info(), "images: 5\n0 8x2 0 0\n1 4x2 4464 -2\n2 4x1 1 -1\n3 4x1 2 -2\n4 8x2 3 -3\n");
  r = Jovtool({"delete", lib, "0", "1", "--quiet"});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.isEmpty());
  EXPECT_EQ(Info(), "images: 3\n0 4x1 1 -1\n1 4x1 2 -2\n2 8x2 3 -3\n");
  EXPECT_EQ(Jovtool({"check", lib}).code, 0);
  // At the end: the place after the last image.
  EXPECT_EQ(Jovtool({"add", lib, picture, "--insert-at", "3"}).code, 0);
  EXPECT_EQ(Info().section('\n', 0, 0), "images: 4");
}

TEST_F(JovtoolRange, RefusalsChangeNothing) {
  const QByteArray before = Library();
  struct Row {
    QStringList args;
    int code;
  };
  const Row rows[] = {
      {{"delete", lib, "2", "1"}, 1},
      {{"delete", lib, "0", "4"}, 1},
      {{"clear", lib, "-1", "0"}, 1},
      {{"delete", lib, "0"}, 2},
      {{"clear", lib, "x", "1"}, 2},
      {{"add", lib, picture, "--insert-at", "5"}, 1},
      {{"add", lib, picture, "--insert-at", "-1"}, 1},
      {{"add", lib, picture, "--insert-at", "one"}, 2},
  };
  for (const Row& row : rows) {
    const ToolRun r = Jovtool(row.args);
    EXPECT_EQ(r.code, row.code) << row.args.join(' ').toStdString();
    EXPECT_TRUE(r.err.startsWith("jovtool: ")) << r.err.toStdString();
  }
  EXPECT_EQ(Library(), before);
}

}  // namespace
