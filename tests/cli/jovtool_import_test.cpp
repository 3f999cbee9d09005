// jovtool import: each mode gives the files the batch runs give, and the checks before a
// run refuse with the dialog's messages, leaving the library as it was.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "cli/jovtoolrun.h"
#include "editing/batchimport.h"
#include "editing/exchange.h"
#include "library/myjov.h"
#include "support/bmpbuilder.h"
#include "support/libbuilder.h"

namespace {

class JovtoolImport : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  QString folder, lib, index;
  QByteArray baseData, baseIndex;

  void SetUp() override {
    folder = dir.filePath("in");
    ASSERT_TRUE(QDir().mkpath(folder + "/Placements"));
    for (int i = 0; i < 3; ++i) {
      BmpSpec spec;
      spec.width = 5 + 4 * i;
      spec.height = 2;
      spec.depth = 8;
      spec.colours = {0x000000, 0xFF0000, 0x00FF00};
      spec.coloursUsed = 3;
      spec.pixels = QByteArray(int(BmpRowBytes(8, spec.width) * 2), char(1 + i % 2));
      WriteBytesToFile(folder + QString::asprintf("/%.6d.bmp", i), BuildBmp(spec));
      WriteBytesToFile(folder + QString::asprintf("/Placements/%.6d.txt", i),
                       QByteArray::number(i) + "\r\n-" + QByteArray::number(i));
      WriteBytesToFile(folder + QString::asprintf("/%.6d.txt", i + 1),
                       "65535\n" + QByteArray::number(i));
    }
    LibraryBuilder b(0);
    for (int16_t i = 0; i < 5; ++i)
      b.Add8(8, int16_t(1 + i), i, i, std::vector<uint8_t>(size_t(8 * (1 + i)), uint8_t(i + 3)));
    lib = b.Write(dir.path(), "lib");
    index = dir.filePath("lib.JOX");
    baseData = ReadFileBytes(lib);
    baseIndex = ReadFileBytes(index);
  }
  void Restore() {
    WriteFileBytes(lib, baseData);
    WriteFileBytes(index, baseIndex);
  }
  QByteArray Files() const { return ReadFileBytes(lib) + ReadFileBytes(index); }
};

TEST_F(JovtoolImport, EveryModeGivesTheFilesOfTheBatchRun) {
  const QStringList files = ListBitmapFiles(folder);
  const std::vector<std::pair<QStringList, std::function<void(TJOV&)>>> cases = {
      {{"--add"}, [&](TJOV& j) { ImportAdd(j, folder, files, {}); }},
      {{"--add", "--placement", "4,-4"},
       [&](TJOV& j) {
         ImportAdd(j, folder, files, {true, {4, -4}});
       }},
      {{"--insert", "0"}, [&](TJOV& j) { ImportInsert(j, folder, files, {}, 0); }},
      {{"--replace", "1", "3"}, [&](TJOV& j) { ImportReplace(j, folder, files, {}, 1, 3); }},
      {{"--pixels", "0", "$2"}, [&](TJOV& j) { ImportPixels(j, folder, 0, 2); }},
      {{"--placements", "1", "4"}, [&](TJOV& j) { ImportPlacements(j, folder, {}, 1, 4); }},
  };
  for (const auto& [args, run] : cases) {
    SCOPED_TRACE(args.join(' ').toStdString());
    Restore();
    TJOV jov;
    ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
    run(jov);
    jov.Close();
    const QByteArray expected = Files();
    ASSERT_NE(expected, baseData + baseIndex);
    Restore();
    const ToolRun r = Jovtool(QStringList{"import", lib, folder} + args);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("批量导入成功\n"));
    EXPECT_TRUE(r.err.isEmpty());  // no bar: stderr is not a terminal
    EXPECT_EQ(Files(), expected);
  }
  // X/Y with one typed pair needs no folder.
  Restore();
  EXPECT_EQ(
      Jovtool({"import", lib, "--placements", "0", "1", "--placement", "-3,7", "--quiet"}).code, 0);
  TJOV jov;
  ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
  jov.ImageAt(1);
  EXPECT_EQ(QList<int>({jov.px(), jov.py()}), QList<int>({-3, 7}));
}

TEST_F(JovtoolImport, WrongCommandLinesAndFailedChecksChangeNothing) {
  const std::vector<std::tuple<QStringList, int, QString>> cases = {
      {{"--add", "--insert", "0"}, 2, ""},
      {{}, 2, ""},
      {{"--replace", "1"}, 2, ""},
      {{"--insert", "1x"}, 2, ""},
      {{"--pixels", "0", "1", "--placement", "1,1"}, 2, ""},
      {{"--insert", "5"}, 1, "jovtool: 请输入正确的编号\n"},
      {{"--replace", "2", "1"}, 1, "jovtool: 请输入正确的编号\n"},
      {{"--replace", "0", "3"}, 1, "jovtool: 图片数目不够！\n"},
      {{"--pixels", "0", "4"}, 1, "jovtool: 图片数目不够！\n"},
      {{"--placements", "4", "5"}, 1, "jovtool: 请输入正确的格式\n"},
  };
  for (const auto& [args, code, err] : cases) {
    SCOPED_TRACE(args.join(' ').toStdString());
    const ToolRun r = Jovtool(QStringList{"import", lib, folder} + args);
    EXPECT_EQ(r.code, code);
    if (code == 1) {
      EXPECT_EQ(r.err, err);
    } else {
      EXPECT_TRUE(r.err.contains("usage: jovtool"));
    }
    EXPECT_EQ(Files(), baseData + baseIndex);
  }
  // A run that fails rolls back: a placement file of one line.
  WriteBytesToFile(folder + "/Placements/000001.txt", "1");
  const ToolRun r = Jovtool({"import", lib, folder, "--insert", "0"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.startsWith(QStringLiteral("jovtool: 批量导入失败"))) << r.err.toStdString();
  EXPECT_EQ(Files(), baseData + baseIndex);
  const ToolRun notFolder = Jovtool({"import", lib, dir.filePath("none"), "--add"});
  EXPECT_EQ(notFolder.code, 1);
  EXPECT_EQ(Files(), baseData + baseIndex);
}

}  // namespace
