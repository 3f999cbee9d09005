// jovtool edits killed with SIGKILL at random instants: every library found afterwards is
// the old pair of files or the new pair, and has no structural problem.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <random>
#include <thread>

#include "editing/undo.h"
#include "library/jovcheck.h"
#include "library/myjov.h"
#include "library/pairswitch.h"
#include "library/transaction.h"
#include "support/libbuilder.h"
#include "support/loopfs.h"
#include "support/spawn.h"

namespace {

pid_t Spawn(const QStringList& args) {
  return Spawn(JOVTOOL_PATH, args);
}

struct Edit {
  QStringList args;  // after the library path
  QByteArray data, index;
  std::chrono::microseconds duration{0};
  // A change made before, from the base library, whose files and history the edit starts
  // from (an undo, a redo); none: the base library without a history.
  std::vector<QStringList> before = {};
  QByteArray fromData = {}, fromIndex = {}, fromHistory = {};
};

// Runs the edit on lib and sends it the signal at a random instant of its run (up to a
// fifth past how long it took uninterrupted); gives its status once it has ended.
int KillAtRandom(const Edit& e, const QString& lib, int signal, std::mt19937& random) {
  const pid_t pid = Spawn(QStringList{e.args[0], lib} + e.args.mid(1));
  std::this_thread::sleep_for(std::chrono::microseconds(
      std::uniform_int_distribution<int64_t>(0, e.duration.count() * 6 / 5)(random)));
  ::kill(pid, signal);
  return Wait(pid);
}

TEST(JovtoolKill, AKilledEditLeavesTheOldOrTheNewLibrary) {
  // Memory-backed when possible: a killed process loses nothing the page cache holds,
  // so the disk is not what is tested here, and kills come quicker.
  const QFileInfo shm(QStringLiteral("/dev/shm"));
  QTemporaryDir dir(shm.isDir() && shm.isWritable() ? QStringLiteral("/dev/shm/jovkill-XXXXXX")
                                                    : QString());
  // About 3 MB: 40 images of 200 x 180 and 4 small ones.
  LibraryBuilder b(0);
  for (int i = 0; i < 44; ++i) {
    const int w = i % 11 == 3 ? 12 : 200, h = i % 11 == 3 ? 9 : 180;
    std::vector<uint8_t> pixels(size_t(w * h));
    for (size_t k = 0; k < pixels.size(); ++k) pixels[k] = uint8_t(k * 7 + i);
    b.Add8(int16_t(w), int16_t(h), int16_t(i), int16_t(-i), pixels);
  }
  b.AddBytes(QByteArray(300000, 's'));  // stale bytes for compact to free
  const QString lib = b.Write(dir.path(), "lib");
  const QString index = dir.filePath("lib.JOX");
  const QByteArray baseData = ReadFileBytes(lib), baseIndex = ReadFileBytes(index);
  // Pictures from the library itself: one of each size.
  const QString big = dir.filePath("big.bmp"), small = dir.filePath("small.bmp");
  ASSERT_EQ(Wait(Spawn({"export-one", lib, "0", big})), 0);
  ASSERT_EQ(Wait(Spawn({"export-one", lib, "3", small})), 0);

  // A folder of two pictures for the batch imports, numbered as images 2 and 3.
  const QString folder = dir.filePath("in");
  ASSERT_TRUE(QDir().mkpath(folder));
  ASSERT_TRUE(QFile::copy(small, folder + "/000002.bmp"));
  ASSERT_TRUE(QFile::copy(big, folder + "/000003.bmp"));
  // An exchange folder of the first images, for create.
  const QString pics = dir.filePath("pics");
  ASSERT_TRUE(QDir().mkpath(pics));
  ASSERT_EQ(Wait(Spawn({"export", lib, pics, "--to", "12"})), 0);
  std::vector<Edit> edits(6);
  edits[0].args = QStringList{"replace", "1", small};  // shrinks: 3 MB move to the start
  edits[1].args = QStringList{"replace", "3", big};    // grows: the tail moves to the end
  edits[2].args = QStringList{"add", big, "--placement", "5,-7"};
  edits[3].args = QStringList{"set-placement", "40", "100", "-100"};
  edits[4].args = QStringList{"create", pics, "--palette", "bmp"};
  edits[5].args = QStringList{"compact"};
  for (const QStringList& import :
       {QStringList{"--add"}, QStringList{"--insert", "1"}, QStringList{"--replace", "2", "3"},
        QStringList{"--pixels", "2", "3"},
        QStringList{"--placements", "0", "9", "--placement", "3,4"}})
    edits.push_back({QStringList{"import", folder} + import, {}, {}, {}});
  for (const QStringList& more :
       {QStringList{"add", small, "--insert-at", "1", "--placement", "1,2"},
        QStringList{"delete", "2", "5"}, QStringList{"clear", "0", "30"},
        // Near the end, little moves: these change in place.
        QStringList{"replace", "40", small}, QStringList{"delete", "38", "40"}})
    edits.push_back(Edit{more, {}, {}, {}});
  // Undo and redo of changes that move most of the library, and of one in place.
  const QStringList insertAt1{"add", big, "--insert-at", "1"}, deleteFrom0{"delete", "0", "5"},
      replaceNearTheEnd{"replace", "40", small};
  for (const QStringList& change : {insertAt1, deleteFrom0, replaceNearTheEnd}) {
    edits.push_back(Edit{{"undo"}, {}, {}, {}, {change}});
    edits.push_back(Edit{{"redo"}, {}, {}, {}, {change, {"undo"}}});
  }
  const TLibraryPaths paths = TLibraryPaths::Of(lib);
  auto clean = [&] {
    for (const QString& leftover : {paths.Journal(), paths.Switch(), paths.NewFile(TLibFile::Data),
                                    paths.NewFile(TLibFile::Index), paths.History()})
      QFile::remove(leftover);
  };
  auto IsOld = [&](const Edit& e, const QByteArray& data, const QByteArray& idx) {
    return e.before.empty() ? data == baseData && idx == baseIndex
                            : data == e.fromData && idx == e.fromIndex;
  };
  auto lay = [&](const Edit& e) {
    clean();
    WriteFileBytes(lib, e.before.empty() ? baseData : e.fromData);
    WriteFileBytes(index, e.before.empty() ? baseIndex : e.fromIndex);
    if (!e.before.empty()) WriteFileBytes(paths.History(), e.fromHistory);
  };
  for (Edit& e : edits) {
    clean();
    WriteFileBytes(lib, baseData);
    WriteFileBytes(index, baseIndex);
    for (const QStringList& b : e.before)
      ASSERT_EQ(Wait(Spawn(QStringList{b[0], lib} + b.mid(1))), 0) << b.join(' ').toStdString();
    if (!e.before.empty()) {
      e.fromData = ReadFileBytes(lib);
      e.fromIndex = ReadFileBytes(index);
      e.fromHistory = ReadFileBytes(paths.History());
    }
    lay(e);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Wait(Spawn(QStringList{e.args[0], lib} + e.args.mid(1))), 0)
        << e.args.join(' ').toStdString();
    e.duration = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    e.data = ReadFileBytes(lib);
    e.index = ReadFileBytes(index);
    ASSERT_NE(e.data + e.index, (e.before.empty() ? baseData : e.fromData) +
                                    (e.before.empty() ? baseIndex : e.fromIndex));
  }

  constexpr int kKills = 600;
  std::mt19937 random(20261208);
  int journalled = 0, rewriting = 0, olds = 0, news = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    const Edit& e = edits[size_t(kill) % edits.size()];
    SCOPED_TRACE(testing::Message() << "kill " << kill << ": " << e.args.join(' ').toStdString());
    lay(e);
    KillAtRandom(e, lib, SIGKILL, random);
    // A change in place leaves its journal; one through a new pair its new files.
    if (JournalIsHot(TLibraryPaths::Of(lib))) ++journalled;
    if (QFile::exists(TLibraryPaths::Of(lib).NewFile(TLibFile::Data)) ||
        QFile::exists(TLibraryPaths::Of(lib).Switch()))
      ++rewriting;

    TJOV jov;
    ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
    const std::vector<TProblem> problems = CheckLibrary(jov);
    EXPECT_TRUE(problems.empty()) << problems.front().problem.toStdString();
    // The history fits whichever files stand: what it offers applies.
    for (const THistoryRole role : {THistoryRole::Undo, THistoryRole::Redo}) {
      const THistoryStep step = NextStep(jov, role);
      EXPECT_FALSE(step.at != 0 && step.entry.refused) << step.entry.what.toStdString();
    }
    jov.Close();
    const QByteArray data = ReadFileBytes(lib), idx = ReadFileBytes(index);
    const bool isOld = IsOld(e, data, idx);
    const bool isNew = data == e.data && idx == e.index;
    EXPECT_TRUE(isOld || isNew);
    olds += isOld;
    news += isNew;
  }
  // The kills must land inside changes, not only before or after them.
  EXPECT_GE(journalled + rewriting, 5);
  std::printf("%d kills: %d left a journal, %d a new pair half done, %d old, %d new\n", kKills,
              journalled, rewriting, olds, news);

  // Ctrl+C and SIGTERM cancel: a change stopped before its commit point rolls back, exits
  // 128 + the signal and leaves the old library with nothing beside it, seen before any
  // opening could recover anything; one past it finishes and exits 0.
  const QDir folderOfLib = QFileInfo(lib).dir();
  constexpr int kSignals = 300;
  int cancelled = 0, finished = 0, early = 0;
  for (int k = 0; k < kSignals; ++k) {
    const Edit& e = edits[size_t(k) % edits.size()];
    const int signal = k % 2 == 0 ? SIGINT : SIGTERM;
    SCOPED_TRACE(testing::Message() << "signal " << k << ": " << e.args.join(' ').toStdString());
    lay(e);
    const int status = KillAtRandom(e, lib, signal, random);
    EXPECT_EQ(folderOfLib.entryList({"*-journal", "*-new", "*-switch"}, QDir::Files),
              QStringList());
    const QByteArray data = ReadFileBytes(lib), idx = ReadFileBytes(index);
    if (WIFSIGNALED(status)) {
      // Before the command was ready for it: nothing had begun.
      EXPECT_EQ(WTERMSIG(status), signal);
      EXPECT_TRUE(IsOld(e, data, idx));
      ++early;
    } else if (WEXITSTATUS(status) == 0) {
      EXPECT_TRUE(data == e.data && idx == e.index);
      ++finished;
    } else {
      EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
      EXPECT_TRUE(IsOld(e, data, idx));
      ++cancelled;
    }
  }
  EXPECT_GE(cancelled, 5);
  std::printf("%d signals: %d cancelled, %d finished, %d before the command was ready\n", kSignals,
              cancelled, finished, early);
}

// The same kills on a real ext4 made on a loop device, where inserts, deletes and
// replaces near the start shift extents: whatever the kill interrupts (the shift, its
// flush, the mark, the writes behind it), the next opening leaves the old pair or the new.
TEST(JovtoolKill, AKilledShiftingEditLeavesTheOldOrTheNewLibrary) {
  TLoopFs fs(QStringLiteral("ext4"), 200);
  if (!fs.Skipped().isEmpty()) GTEST_SKIP() << fs.Skipped().toStdString();
  LibraryBuilder b(0);  // about 3 MB: a tail worth shifting behind the first images
  for (int i = 0; i < 40; ++i)
    b.Add8(200, i == 1 ? 90 : 180, int16_t(i), 0,
           std::vector<uint8_t>(size_t(200 * 180), uint8_t(i)));
  const QString lib = b.Write(fs.Root(), "lib"), index = fs.Root() + "/lib.JOX";
  const QByteArray baseData = ReadFileBytes(lib), baseIndex = ReadFileBytes(index);
  const QString picture = fs.Root() + "/p.bmp";
  ASSERT_EQ(Wait(Spawn({"export-one", lib, "3", picture})), 0);
  std::vector<Edit> edits;
  for (const QStringList& args :
       {QStringList{"add", picture, "--insert-at", "1"}, QStringList{"delete", "2", "5"},
        QStringList{"replace", "0", picture}, QStringList{"undo"}, QStringList{"undo"}})
    edits.push_back(Edit{args, {}, {}, {}});
  // The undos shift back: the room the delete closed opened again, the insert's closed.
  edits[3].before = {{"delete", "2", "5"}};
  edits[4].before = {{"add", picture, "--insert-at", "1"}};
  const TLibraryPaths paths = TLibraryPaths::Of(lib);
  auto lay = [&](const Edit& e) {
    for (const QString& leftover : {paths.Journal(), paths.History()}) QFile::remove(leftover);
    WriteFileBytes(lib, e.before.empty() ? baseData : e.fromData);
    WriteFileBytes(index, e.before.empty() ? baseIndex : e.fromIndex);
    if (!e.before.empty()) WriteFileBytes(paths.History(), e.fromHistory);
  };
  for (Edit& e : edits) {
    lay(Edit{});
    for (const QStringList& c : e.before)
      ASSERT_EQ(Wait(Spawn(QStringList{c[0], lib} + c.mid(1))), 0);
    e.fromData = ReadFileBytes(lib);
    e.fromIndex = ReadFileBytes(index);
    e.fromHistory = ReadFileBytes(paths.History());
    lay(e);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Wait(Spawn(QStringList{e.args[0], lib} + e.args.mid(1))), 0);
    e.duration = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    e.data = ReadFileBytes(lib);
    e.index = ReadFileBytes(index);
  }
  // Shifted: the data file changed by whole blocks (the replace and the undos too), where
  // a copying edit changes it by the record's size.
  for (const Edit& e : edits)
    EXPECT_EQ((e.data.size() - e.fromData.size()) % 4096, 0) << e.args.join(' ').toStdString();
  std::mt19937 random(20261209);
  for (int kill = 0; kill < 100; ++kill) {
    const Edit& e = edits[size_t(kill) % edits.size()];
    SCOPED_TRACE(testing::Message() << "kill " << kill << ": " << e.args.join(' ').toStdString());
    lay(e);
    KillAtRandom(e, lib, SIGKILL, random);
    TJOV jov;
    ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
    EXPECT_TRUE(CheckLibrary(jov).empty());
    jov.Close();
    const QByteArray data = ReadFileBytes(lib), idx = ReadFileBytes(index);
    EXPECT_TRUE((data == e.fromData && idx == e.fromIndex) || (data == e.data && idx == e.index));
  }
}

}  // namespace
