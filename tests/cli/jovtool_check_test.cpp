// jovtool check as a script runs it: output and exit status.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "cli/jovtoolrun.h"
#include "support/libbuilder.h"

namespace {

TEST(JovtoolCheck, ExitStatusAndOutputFollowTheProblemsFound) {
  QTemporaryDir dir;
  LibraryBuilder sound(0);
  sound.Add8(4, 1, 0, 0, std::vector<uint8_t>(4, 1));
  const QString soundPath = sound.Write(dir.path(), "sound");
  const ToolRun ok = Jovtool({"check", soundPath});
  EXPECT_EQ(ok.code, 0);
  EXPECT_EQ(ok.out, "ok\n");
  EXPECT_EQ(ok.err, "");
  const ToolRun okJson = Jovtool({"check", soundPath, "--json"});
  EXPECT_EQ(okJson.code, 0);
  EXPECT_EQ(QJsonDocument::fromJson(okJson.out.toUtf8()).object()["problems"].toArray().size(), 0);

  LibraryBuilder bad = sound;
  bad.dataCount = 3;
  bad.AddEntry(9999);
  const QString badPath = bad.Write(dir.path(), "bad");
  const ToolRun text = Jovtool({"check", badPath});
  EXPECT_EQ(text.code, 1);
  EXPECT_EQ(text.err.toStdString(),
            "jovtool: the image count is 3 in the data file but 2 in the index file\n");
  EXPECT_EQ(text.out.toStdString(),
            "the image count is 3 in the data file but 2 in the index file\n"
            "image 1: entry 9999 lies past the end of the data file (1092 bytes)\n"
            "image 2 has no index entry\n");
  const ToolRun json = Jovtool({"check", badPath, "--json"});
  EXPECT_EQ(json.code, 1);
  const QJsonObject root = QJsonDocument::fromJson(json.out.toUtf8()).object();
  EXPECT_EQ(root["file"].toString(), badPath);
  const QJsonArray problems = root["problems"].toArray();
  ASSERT_EQ(problems.size(), 3);
  EXPECT_TRUE(problems[0].toObject()["index"].isNull());
  EXPECT_EQ(problems[1].toObject()["index"].toInt(), 1);
  EXPECT_EQ(problems[1].toObject()["problem"].toString(),
            "image 1: entry 9999 lies past the end of the data file (1092 bytes)");

  // Not a library, a missing one, and wrong command lines.
  WriteFileBytes(dir.filePath("x.jov"), "not a library");
  EXPECT_EQ(Jovtool({"check", dir.filePath("x.jov")}).code, 1);
  EXPECT_EQ(Jovtool({"check", dir.filePath("none.jov")}).code, 1);
  EXPECT_EQ(Jovtool({"check"}).code, 2);
  EXPECT_EQ(Jovtool({"check", soundPath, soundPath}).code, 2);
  EXPECT_EQ(Jovtool({"check", soundPath, "--yaml"}).code, 2);
}

// Stale bytes between records and behind the last: check counts them, info says what a
// compact would free, and compact frees exactly that.  A record shared by two images and
// records out of file order count once.
TEST(JovtoolCheck, GapsAreReportedAndCompactRemovesThem) {
  QTemporaryDir dir;
  LibraryBuilder b(0);
  const int32_t first = b.Add8(4, 1, 0, 0, std::vector<uint8_t>(4, 1));
  b.AddBytes(QByteArray(10, 's'));
  b.Add8(8, 2, 0, 0, std::vector<uint8_t>(16, 2));
  b.AddBytes(QByteArray(300, 't'));
  b.Add8(4, 3, 0, 0, std::vector<uint8_t>(12, 3));
  b.AddBytes(QByteArray(7, 'u'));
  b.AddEntry(first);  // shares the first record
  const QString path = b.Write(dir.path(), "gaps");

  const ToolRun text = Jovtool({"check", path});
  EXPECT_EQ(text.code, 0);
  EXPECT_EQ(text.out.toStdString(),
            "note: image 3 shares its record at 1080 with image 0\n"
            "note: the index lists records out of file order: image 3 at 1080 lies before image "
            "2 at 1426\n"
            "ok\n"
            "gaps: 317 bytes between records, the largest 300\n");
  const QJsonObject json =
      QJsonDocument::fromJson(Jovtool({"check", path, "--json"}).out.toUtf8()).object();
  EXPECT_EQ(json["gapBytes"].toInt(), 317);
  EXPECT_EQ(json["largestGap"].toInt(), 300);
  const QJsonObject info =
      QJsonDocument::fromJson(Jovtool({"info", path, "--json"}).out.toUtf8()).object();
  EXPECT_EQ(info["compactSaves"].toInt(), 317);
  EXPECT_EQ(info["images"].toArray().size(), 4);

  const ToolRun compact = Jovtool({"compact", path});
  EXPECT_EQ(compact.code, 0) << compact.err.toStdString();
  EXPECT_TRUE(compact.out.contains("317")) << compact.out.toStdString();
  const ToolRun after = Jovtool({"check", path});
  EXPECT_FALSE(after.out.contains("gaps")) << after.out.toStdString();
  EXPECT_EQ(QJsonDocument::fromJson(Jovtool({"info", path, "--json"}).out.toUtf8())
                .object()["compactSaves"]
                .toInt(),
            0);
}

}  // namespace
