// jovtool create and compact as a script uses them: results, messages, exit codes.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "cli/jovtoolrun.h"
#include "support/libbuilder.h"

namespace {

TEST(JovtoolCreate, MakesTheLibraryAnExportedFolderDescribes) {
  QTemporaryDir dir;
  LibraryBuilder b(0);
  b.Add8(8, 2, -3, 5, std::vector<uint8_t>(16, 9));
  b.Add8(4, 4, 7, -8, std::vector<uint8_t>(16, 200));
  const QString source = b.Write(dir.path(), "source");
  const QString pics = dir.filePath("pics"), made = dir.filePath("made.jov");
  ASSERT_TRUE(QDir().mkpath(pics));
  ASSERT_EQ(Jovtool({"export", source, pics, "--quiet"}).code, 0);

  const ToolRun r = Jovtool({"create", made, pics, "--palette", "bmp"});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, QStringLiteral("建立新文件成功!\n"));
  EXPECT_TRUE(r.err.isEmpty()) << "no bar when stderr is not a terminal";
  EXPECT_EQ(Jovtool({"info", made}).out, Jovtool({"info", source}).out);
  EXPECT_EQ(ReadFileBytes(made).mid(56), b.Data().mid(56));

  EXPECT_EQ(Jovtool({"create", made, pics, "--placement", "12,-3", "--quiet"}).out, "");
  EXPECT_EQ(Jovtool({"info", made}).out,
            QStringLiteral("VARN   数据格式(1)\nimages: 2\n0 8x2 12 -3\n1 4x4 12 -3\n"));

  // Failures leave the library as it was; wrong command lines change nothing.
  const QByteArray before = ReadFileBytes(made);
  WriteFileBytes(pics + "/000002.bmp", "junk");
  const ToolRun failed = Jovtool({"create", made, pics});
  EXPECT_EQ(failed.code, 1);
  EXPECT_TRUE(failed.err.startsWith(QStringLiteral("jovtool: 建立新文件失败! ")))
      << failed.err.toStdString();
  for (const QStringList& wrong :
       {QStringList{"create", made}, QStringList{"create", made, pics, "--palette", "rgb"},
        QStringList{"create", made, pics, "--placement", "1,x"}, QStringList{"compact"}})
    EXPECT_EQ(Jovtool(wrong).code, 2) << wrong.join(' ').toStdString();
  EXPECT_EQ(ReadFileBytes(made), before);
}

TEST(JovtoolCompact, SaysWhatItFreed) {
  QTemporaryDir dir;
  LibraryBuilder b(1);
  b.Add8(4, 2, 1, 2, std::vector<uint8_t>(8, 3));
  b.AddBytes(QByteArray(100, 's'));
  b.Add8(4, 1, 3, 4, std::vector<uint8_t>(4, 5));
  b.AddBytes(QByteArray(23, 's'));
  const QString lib = b.Write(dir.path(), "lib");
  const QString info = Jovtool({"info", lib}).out;
  const ToolRun r = Jovtool({"compact", lib});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, QStringLiteral("freed 123 bytes\n"));
  EXPECT_EQ(Jovtool({"info", lib}).out, info);
  EXPECT_EQ(Jovtool({"check", lib}).code, 0);

  LibraryBuilder b16(2);
  b16.Add16(2, 1, 0, 0, RowRecord({}));
  const ToolRun refused = Jovtool({"compact", b16.Write(dir.path(), "run")});
  EXPECT_EQ(refused.code, 1);
  EXPECT_TRUE(refused.err.contains("read only"));
}

}  // namespace
