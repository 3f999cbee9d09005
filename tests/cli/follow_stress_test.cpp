// A reader fetching every image over and over while jovtool, another process, makes 200
// changes of every kind to the library, in place and through new pairs.  Each picture the
// reader trusts must be whole and, together with every other one it fetched before it
// opened the library again, the library in one of the states the changes went through.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <QDir>
#include <QTemporaryDir>
#include <vector>

#include "common/errors.h"
#include "library/myjov.h"
#include "support/idpictures.h"
#include "support/spawn.h"

namespace {

// Large enough that a change near the start goes through a new pair.
constexpr int kBase = 224;
constexpr int kChanges = 200;

using TState = std::vector<int>;  // the id of every image

// The changes as jovtool commands (one shell line each), and every state they lead to.
std::vector<TState> PlanChanges(TState state, const QString& lib, const QString& pictures,
                                QStringList& lines) {
  std::vector<TState> states = {state};
  for (int k = 0; k < kChanges; ++k) {
    const int id = 1 + (k + 40) % 255;
    const QString picture = QStringLiteral("%1/%2.bmp").arg(pictures).arg(id);
    const int last = int(state.size()) - 1;
    QString args;
    switch (k % 5) {
      case 0:  // in place: the last record changes its size at the end of the file
        args = QStringLiteral("replace '%1' %2 '%3'").arg(lib).arg(last).arg(picture);
        state[size_t(last)] = id;
        break;
      case 1:
        args = QStringLiteral("add '%1' '%2'").arg(lib, picture);
        state.push_back(id);
        break;
      case 2:  // everything moves: a new pair
        args = QStringLiteral("add '%1' '%2' --insert-at 0").arg(lib, picture);
        state.insert(state.begin(), id);
        break;
      case 3:
        args = QStringLiteral("delete '%1' 0 0").arg(lib);
        state.erase(state.begin());
        break;
      default:
        args = QStringLiteral("delete '%1' %2 %2").arg(lib).arg(last);
        state.pop_back();
        break;
    }
    lines << QStringLiteral("'%1' %2 --quiet").arg(QStringLiteral(JOVTOOL_PATH), args);
    states.push_back(state);
  }
  return states;
}

// Whether every image fetched (index, id) is that image in one of the states.
bool InOneState(const std::vector<std::pair<int, int>>& fetched, int count,
                const std::vector<TState>& states) {
  for (const TState& s : states) {
    if (int(s.size()) != count) continue;
    bool all = true;
    for (const auto& [i, id] : fetched) all = all && s[size_t(i)] == id;
    if (all) return true;
  }
  return false;
}

TEST(FollowStress, EveryTrustedFetchIsAWholePictureOfAStateTheLibraryWasIn) {
  QTemporaryDir dir;
  const QString pictures = dir.filePath("pictures");
  QDir().mkpath(pictures);
  for (int id = 1; id <= 255; ++id)
    WriteFileBytes(QStringLiteral("%1/%2.bmp").arg(pictures).arg(id), IdBitmap(id, kBase));
  LibraryBuilder b(0);
  TState start;
  for (int id = 1; id <= 24; ++id) {
    AddIdImage(b, id, kBase);
    start.push_back(id);
  }
  const QString lib = b.Write(dir.path(), "lib");
  QStringList lines = {QStringLiteral("set -e")};
  const std::vector<TState> states = PlanChanges(start, lib, pictures, lines);
  const QString script = dir.filePath("changes.sh");
  WriteFileBytes(script, lines.join(QLatin1Char('\n')).toUtf8());

  TJOV reader;
  reader.SetFollowOthers(true);
  ASSERT_EQ(reader.Open(lib), TOpenResult::Opened);
  const pid_t writer = Spawn("/bin/sh", {script});
  int status = 0, opened = 1, trusted = 0;
  std::vector<std::pair<int, int>> fetched;
  while (::waitpid(writer, &status, WNOHANG) == 0) {
    for (int i = 0; i < reader.ImageCount(); ++i) {
      const QImage* image = reader.ImageAt(i);
      if (!reader.FetchesSound()) continue;
      const int id = IdOf(*image, kBase);
      ASSERT_NE(id, -1) << "a torn picture at " << i << " after " << opened << " openings";
      fetched.emplace_back(i, id);
      ++trusted;
    }
    if (reader.ChangeByOthers() != TLibraryChange::Committed) continue;
    ASSERT_TRUE(InOneState(fetched, reader.ImageCount(), states))
        << "pictures of two states after " << opened << " openings";
    fetched.clear();
    try {
      reader.Open(lib);
      ++opened;
    } catch (const ELibraryBusy&) {
      // A change that holds the lock for long: the next look opens it.
    }
  }
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a change of jovtool failed";
  EXPECT_TRUE(InOneState(fetched, reader.ImageCount(), states));
  // The reader followed, and ends on the last state.
  EXPECT_GT(opened, 10);
  EXPECT_GT(trusted, 1000);
  ASSERT_EQ(reader.Open(lib), TOpenResult::Opened);
  std::vector<std::pair<int, int>> last;
  for (int i = 0; i < reader.ImageCount(); ++i)
    last.emplace_back(i, IdOf(*reader.ImageAt(i), kBase));
  EXPECT_TRUE(InOneState(last, reader.ImageCount(), {states.back()}));
  EXPECT_EQ(reader.ImageCount(), int(states.back().size()));
}

}  // namespace
