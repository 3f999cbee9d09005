// jovtool undo, redo and history: changes made by separate runs undone and redone by
// others, the listing, the refusals and --history-limit.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "cli/jovtoolrun.h"
#include "support/libbuilder.h"

namespace {

class JovtoolHistory : public ::testing::TestWithParam<int> {
 protected:
  QTemporaryDir dir;
  QString lib, folder;
  void SetUp() override {
    LibraryBuilder b(GetParam());
    for (int16_t i = 0; i < 5; ++i)
      b.Add8(int16_t(4 + 4 * i), 2, i, int16_t(-i),
             std::vector<uint8_t>(size_t(8 + 8 * i), uint8_t(i + 1)));
    lib = b.Write(dir.path(), "lib");
    folder = dir.filePath("out");
    ASSERT_TRUE(QDir(dir.path()).mkdir("out"));
    ASSERT_EQ(Jovtool({"export", lib, folder, "--from", "3", "--to", "4", "--quiet"}).code, 0);
  }
  QByteArray Library() { return ReadFileBytes(lib) + ReadFileBytes(dir.filePath("lib.JOX")); }
  ToolRun Ok(const QStringList& args) {
    const ToolRun r = Jovtool(args);
    EXPECT_EQ(r.code, 0) << args.join(' ').toStdString() << ": " << r.err.toStdString();
    return r;
  }
};

// Every editing command, each in its own run; then undone one run at a time back to the
// first library, and redone to the last.
TEST_P(JovtoolHistory, EachCommandIsUndoneAndRedoneByLaterRuns) {
  const struct {
    QStringList args;
    const char* what;
  } commands[] = {
      {{"set-placement", lib, "1", "5", "-5"}, "set the placement of image 1"},
      {{"import", lib, folder, "--replace", "0", "1"}, "import over images 0 to 1"},
      {{"import", lib, folder, "--insert", "2"}, "import 2 images before image 2"},
      {{"import", lib, folder, "--add"}, "import images 7 to 8 at the end"},
      {{"import", lib, "--placements", "0", "3", "--placement", "1,2"},
       "import the placements of images 0 to 3"},
      {{"delete", lib, "0", "2"}, "delete images 0 to 2"},
      {{"clear", lib, "1", "1"}, "clear image 1"},
  };
  std::vector<QByteArray> states{Library()};
  for (const auto& c : commands) {
    Ok(c.args + QStringList{"--quiet"});
    states.push_back(Library());
  }
  const QJsonObject listing =
      QJsonDocument::fromJson(Ok({"history", lib, "--json"}).out.toUtf8()).object();
  const QJsonArray done = listing["done"].toArray();
  ASSERT_EQ(done.size(), std::size(commands));
  EXPECT_FALSE(listing["changedElsewhere"].toBool());
  for (size_t k = std::size(commands); k-- > 0;) {
    EXPECT_EQ(done[qsizetype(std::size(commands) - 1 - k)]["what"].toString(), commands[k].what);
    EXPECT_EQ(Ok({"undo", lib}).out, QStringLiteral("undid %1\n").arg(commands[k].what));
    ASSERT_TRUE(Library() == states[k]) << "after undoing " << commands[k].what;
  }
  const ToolRun none = Jovtool({"undo", lib});
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.err, "jovtool: There is nothing to undo.\n");
  for (size_t k = 0; k < std::size(commands); ++k) {
    Ok({"redo", lib, "--quiet"});
    ASSERT_TRUE(Library() == states[k + 1]) << "after redoing " << commands[k].what;
  }
  EXPECT_EQ(Jovtool({"check", lib}).code, 0);
}

// A change by another program refuses the entries before it; the listing says so, and
// a cleared history starts anew.
TEST_P(JovtoolHistory, AChangeElsewhereIsRefusedUntilTheHistoryIsCleared) {
  Ok({"set-placement", lib, "0", "9", "9"});
  {
    QFile data(lib);
    ASSERT_TRUE(data.open(QIODevice::Append));
    data.write("stale bytes of another program");
  }
  const QByteArray changed = Library();
  const ToolRun refused = Jovtool({"undo", lib});
  EXPECT_EQ(refused.code, 1);
  EXPECT_TRUE(refused.err.startsWith("jovtool: ") && refused.err.contains("no longer fits"))
      << refused.err.toStdString();
  EXPECT_EQ(Library(), changed);
  const QString text = Ok({"history", lib}).out;
  EXPECT_TRUE(text.contains("set the placement of image 0  (refused")) << text.toStdString();
  EXPECT_TRUE(text.contains("note: ")) << text.toStdString();
  EXPECT_EQ(Ok({"history", lib, "--clear"}).out, "history cleared\n");
  EXPECT_EQ(Ok({"history", lib}).out, "no history\n");
  Ok({"set-placement", lib, "0", "1", "1"});
  Ok({"undo", lib});
  EXPECT_EQ(Library(), changed);
}

// --history-limit: sizes with units, 0 keeping none, a change over the limit made with a
// note; wrong values and wrong command lines are usage errors that change nothing.
TEST_P(JovtoolHistory, TheLimitOnTheCommandLine) {
  const QString history = lib + "-history";
  Ok({"set-placement", lib, "0", "1", "1", "--history-limit", "0"});
  EXPECT_FALSE(QFile::exists(history));
  const ToolRun over = Jovtool({"delete", lib, "0", "3", "--history-limit", "100"});
  EXPECT_EQ(over.code, 0);
  EXPECT_TRUE(over.err.startsWith("jovtool: note: ") && over.err.contains("cannot be undone"))
      << over.err.toStdString();
  EXPECT_EQ(Jovtool({"undo", lib}).code, 1);
  Ok({"set-placement", lib, "0", "2", "2", "--history-limit", "1k"});
  Ok({"set-placement", lib, "0", "3", "3", "--history-limit", "64MiB"});
  EXPECT_EQ(Ok({"history", lib}).out.count('\n'), 2);
  const QByteArray before = Library() + ReadFileBytes(history);
  for (const QStringList& wrong :
       {QStringList{"set-placement", lib, "0", "1", "1", "--history-limit", "lots"},
        QStringList{"set-placement", lib, "0", "1", "1", "--history-limit", "-1"},
        QStringList{"set-placement", lib, "0", "1", "1", "--history-limit"},
        QStringList{"info", lib, "--history-limit", "1M"}, QStringList{"undo"},
        QStringList{"redo", lib, lib}, QStringList{"history", lib, "--json", "--clear"}}) {
    const ToolRun r = Jovtool(wrong);
    EXPECT_EQ(r.code, 2) << wrong.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains("usage: jovtool")) << wrong.join(' ').toStdString();
  }
  EXPECT_EQ(Library() + ReadFileBytes(history), before);
}

INSTANTIATE_TEST_SUITE_P(FileTypes, JovtoolHistory, ::testing::Values(0, 1),
                         [](const auto& info) { return "FileType" + std::to_string(info.param); });

}  // namespace
