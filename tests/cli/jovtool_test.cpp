#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "cli/jovtoolrun.h"
#include "support/libbuilder.h"

namespace {

TEST(JovtoolInfo, ListsEveryVariantAsTheViewerShowsIt) {
  QTemporaryDir dir;
  LibraryBuilder b0(0);
  b0.Add8(6, 2, -3, 5, std::vector<uint8_t>(12, 1));
  b0.AddEntry(-1);
  const ToolRun r0 = Jovtool({"info", b0.Write(dir.path(), "a")});
  EXPECT_EQ(r0.code, 0);
  EXPECT_EQ(r0.out, QStringLiteral("VARN   数据格式(1)\nimages: 2\n0 8x2 -3 5\n1 0x0 0 0\n"));

  LibraryBuilder b1(1);
  b1.Add8(4, 1, 7, 8, std::vector<uint8_t>(4, 1));
  EXPECT_EQ(Jovtool({"info", b1.Write(dir.path(), "b")}).out,
            QStringLiteral("VARN   数据格式(2)\nimages: 1\n0 4x1 7 8\n"));

  LibraryBuilder b2(2);
  b2.AddEntry(-1);
  b2.Add16(3, 1, 1, -1, {0, 3, 0xC1, 1, 5});
  const ToolRun r2 = Jovtool({"info", b2.Write(dir.path(), "c"), "--json"});
  ASSERT_EQ(r2.code, 0);
  const QJsonObject root = QJsonDocument::fromJson(r2.out.toUtf8()).object();
  EXPECT_EQ(root["fileType"].toInt(), 2);
  EXPECT_EQ(root["offSet"].toInt(), 1);
  EXPECT_EQ(root["imageCount"].toInt(), 1);
  EXPECT_EQ(root["typeLabel"].toString(), QStringLiteral("OLM   数据格式(2)"));
  const QJsonObject image = root["images"].toArray()[0].toObject();
  EXPECT_EQ(image["width"].toInt(), 3);
  EXPECT_EQ(image["py"].toInt(), -1);
  EXPECT_EQ(image["offset"].toInt(), 28);
  EXPECT_TRUE(r2.out.startsWith("{\n  \"file\": ")) << "documented key order";
}

TEST(JovtoolInfo, FailuresAndUsageErrorsHaveTheirExitCodes) {
  QTemporaryDir dir;
  const ToolRun missing = Jovtool({"info", dir.filePath("none.jov")});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "jovtool: " + dir.filePath("none.jov") + QStringLiteral(" 不存在.\n"));
  WriteFileBytes(dir.filePath("x.jov"), "not a library");
  const ToolRun bad = Jovtool({"info", dir.filePath("x.jov")});
  EXPECT_EQ(bad.code, 1);
  EXPECT_EQ(bad.err, QStringLiteral("jovtool: JOv文件已经被破坏或不是jov文件！\n"));
  EXPECT_EQ(Jovtool({}).code, 2);
  EXPECT_EQ(Jovtool({"info"}).code, 2);
  EXPECT_EQ(Jovtool({"info", "a", "--bogus"}).code, 2);
  EXPECT_EQ(Jovtool({"frobnicate"}).code, 2);
}

// --help and --version are answers, not mistakes: stdout and status 0.  Anything after
// them, or an unknown option in their place, is a wrong command line.
TEST(JovtoolUsage, HelpAndVersionAnswerOnStdout) {
  for (const char* option : {"--help", "-h"}) {
    const ToolRun r = Jovtool({option});
    EXPECT_EQ(r.code, 0) << option;
    EXPECT_TRUE(r.out.startsWith("usage: jovtool COMMAND")) << option;
    EXPECT_TRUE(r.out.contains("--version")) << option;
    EXPECT_TRUE(r.err.isEmpty()) << option;
  }
  const ToolRun version = Jovtool({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_TRUE(QRegularExpression("^jovtool [0-9]+\\.[0-9]+\n$").match(version.out).hasMatch())
      << version.out.toStdString();
  EXPECT_TRUE(version.err.isEmpty());
  for (const QStringList& wrong :
       {QStringList{"--help", "info"}, QStringList{"--version", "x"}, QStringList{"--versions"}}) {
    const ToolRun r = Jovtool(wrong);
    EXPECT_EQ(r.code, 2) << wrong.join(' ').toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains("usage: jovtool")) << wrong.join(' ').toStdString();
  }
}

}  // namespace
