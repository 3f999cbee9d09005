#include "support/crashloop.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <optional>

#include "common/errors.h"
#include "editing/undo.h"
#include "library/myjov.h"
#include "library/pairswitch.h"
#include "library/transaction.h"
#include "support/crashfs.h"
#include "support/libbuilder.h"

namespace {

// Runs the operation on a freshly opened library; exceptions count as failure.
bool RunOnce(const QString& dataPath, const std::function<bool(TJOV&)>& run) {
  TJOV jov;
  if (jov.Open(dataPath) != TOpenResult::Opened) return false;
  try {
    return run(jov);
  } catch (const EJovError&) {
    return false;
  }
}

// Journal, switch record, history and the files of a new pair beside a library.
void RemoveLeftovers(const QString& dataPath, const QString& indexPath) {
  const TLibraryPaths paths = TLibraryPaths::Pair(dataPath, indexPath);
  for (const QString& path :
       {paths.Journal(), paths.Switch(), paths.SwitchDraft(), paths.NewFile(TLibFile::Data),
        paths.NewFile(TLibFile::Index), paths.History(), paths.HistoryDraft()})
    QFile::remove(path);
}

std::optional<QByteArray> ReadIfThere(const QString& path) {
  return QFile::exists(path) ? std::optional<QByteArray>(ReadFileBytes(path)) : std::nullopt;
}

// The two loops every crash test runs once the whole run has given its step count:
// failing each step once, then cutting the power at each step with `seeds` disks.
// restore lays the old files, run runs the operation (cut: under a power cut, whose
// result does not matter) and check reopens the library and says whether the files are
// the new ones.
void FaultLoops(int steps, int seeds, const std::function<void()>& restore,
                const std::function<bool(bool cut)>& run,
                const std::function<bool(bool deep)>& check) {
  for (int k = 1; k <= steps; ++k) {
    SCOPED_TRACE(testing::Message() << "failing step " << k << " of " << steps);
    restore();
    bool ok;
    {
      TCrashFs fs;
      fs.FailAt(k);
      ok = run(false);
    }
    const bool isNew = check(true);
    // Only what follows the commit point may fail with the change made.
    if (ok) {
      EXPECT_TRUE(isNew);
    } else if (k < steps) {
      EXPECT_FALSE(isNew);
    }
  }
  for (int k = 1; k <= steps; ++k) {
    for (int seed = 0; seed < seeds; ++seed) {
      SCOPED_TRACE(testing::Message() << "power cut at step " << k << ", seed " << seed);
      restore();
      TCrashFs fs;
      fs.CutAt(k);
      run(true);
      EXPECT_TRUE(fs.CutHappened());
      fs.Cut(uint32_t(seed) * 7919u + uint32_t(k));
      check(seed == 0);
    }
  }
}

}  // namespace

void ExpectDescribesFiles(TJOV& jov, const QString& path) {
  TJOV fresh;
  ASSERT_EQ(fresh.Open(path), TOpenResult::Opened);
  EXPECT_EQ(jov.ImageCount(), fresh.ImageCount());
  EXPECT_EQ(jov.IndexEntries(), fresh.IndexEntries());
}

QString ScratchTemplate() {
  const QFileInfo shm(QStringLiteral("/dev/shm"));
  return shm.isDir() && shm.isWritable() ? QStringLiteral("/dev/shm/jovcrash-XXXXXX") : QString();
}

namespace {

// The loops of ExpectCrashSafe for one way of writing; leaves the old files in place and
// returns the number of steps, with the new files in newData and newIndex.
int LoopsOfOneWay(const QString& dataPath, const QString& indexPath,
                  const std::function<bool(TJOV&)>& run, int seeds, bool undoable,
                  QByteArray& newData, QByteArray& newIndex) {
  const QByteArray oldData = ReadFileBytes(dataPath), oldIndex = ReadFileBytes(indexPath);
  const QString historyPath = TLibraryPaths::Of(dataPath).History();
  const std::optional<QByteArray> oldHistory = ReadIfThere(historyPath);
  auto restore = [&] {
    WriteFileBytes(dataPath, oldData);
    WriteFileBytes(indexPath, oldIndex);
    RemoveLeftovers(dataPath, indexPath);
    if (oldHistory) WriteFileBytes(historyPath, *oldHistory);
  };
  restore();
  int steps;
  {
    TCrashFs fs;
    EXPECT_TRUE(RunOnce(dataPath, run)) << "the whole run failed";
    steps = fs.Count();
  }
  newData = ReadFileBytes(dataPath);
  newIndex = ReadFileBytes(indexPath);
  // Reopens (recovering under a simulated disk, so nothing waits for a real flush) and
  // compares.  Returns whether the files are the new ones.
  auto check = [&](bool deep) {
    TCrashFs quick;
    TJOV reopened;
    EXPECT_EQ(reopened.Open(dataPath), TOpenResult::Opened);
    reopened.Close();
    const QByteArray data = ReadFileBytes(dataPath), index = ReadFileBytes(indexPath);
    const bool isOld = data == oldData && index == oldIndex;
    const bool isNew = data == newData && index == newIndex;
    EXPECT_TRUE(isOld || isNew);
    EXPECT_FALSE(QFile::exists(TLibraryPaths::Of(dataPath).Journal()));
    EXPECT_FALSE(QFile::exists(TLibraryPaths::Of(dataPath).Switch()));
    // The history fits the files that stand: whatever it offers to undo or redo applies.
    reopened.Open(dataPath);
    const THistoryStep undo = NextStep(reopened, THistoryRole::Undo);
    const THistoryStep redo = NextStep(reopened, THistoryRole::Redo);
    EXPECT_FALSE(undo.at != 0 && undo.entry.refused) << undo.entry.what.toStdString();
    EXPECT_FALSE(redo.at != 0 && redo.entry.refused) << redo.entry.what.toStdString();
    if (undoable && isOld && !oldHistory) {
      EXPECT_EQ(undo.at, 0) << undo.entry.what.toStdString();
    }
    if (undoable && isNew && deep) {
      // Undone, the change gives back the old files exactly; redone, the new ones.
      EXPECT_NO_THROW(UndoOrRedo(reopened, THistoryRole::Undo));
      EXPECT_TRUE(ReadFileBytes(dataPath) == oldData && ReadFileBytes(indexPath) == oldIndex);
      EXPECT_NO_THROW(UndoOrRedo(reopened, THistoryRole::Redo));
      EXPECT_TRUE(ReadFileBytes(dataPath) == newData && ReadFileBytes(indexPath) == newIndex);
    }
    return isNew;
  };

  FaultLoops(
      steps, seeds, restore,
      [&](bool cut) {
        if (cut) {
          RunOnce(dataPath, run);
          return false;
        }
        TJOV jov;
        EXPECT_EQ(jov.Open(dataPath), TOpenResult::Opened);
        bool ok;
        try {
          ok = run(jov);
        } catch (const EJovError&) {
          ok = false;
        }
        // What the object knows is what the files hold.
        if (jov.IsOpen()) ExpectDescribesFiles(jov, dataPath);
        return ok;
      },
      check);
  restore();
  return steps;
}

}  // namespace

int ExpectCrashSafe(const QString& dataPath, const QString& indexPath,
                    const std::function<bool(TJOV&)>& run, int seeds, bool undoable) {
#ifdef __SANITIZE_ADDRESS__
  // Under the sanitizers the loops look for memory faults, which every step's failure
  // and a few disks per step find; the plain build tries every disk.
  seeds = std::min(seeds, 6);
#endif
  // In place under a journal, then through a new pair: the loops of both ways, and the
  // same new files from each.
  QByteArray newData, newIndex, rewrittenData, rewrittenIndex;
  const int steps = LoopsOfOneWay(dataPath, indexPath, run, seeds, undoable, newData, newIndex);
  {
    struct TEveryChangeRewrites {
      int64_t floor = TJovTransaction::SetRewriteFloor(0);
      ~TEveryChangeRewrites() { TJovTransaction::SetRewriteFloor(floor); }
    } rewrite;
    LoopsOfOneWay(dataPath, indexPath, run, seeds, undoable, rewrittenData, rewrittenIndex);
  }
  EXPECT_TRUE(rewrittenData == newData && rewrittenIndex == newIndex)
      << "a new pair differs from the change made in place";
  WriteFileBytes(dataPath, newData);
  WriteFileBytes(indexPath, newIndex);
  return steps;
}

int ExpectCreateCrashSafe(const QString& dataPath, const QString& indexPath,
                          const std::function<bool()>& run, int seeds) {
  // A file that is not there is told apart from an empty one.
  auto read = [](const QString& path) {
    return QFile::exists(path) ? std::optional<QByteArray>(ReadFileBytes(path)) : std::nullopt;
  };
  const std::optional<QByteArray> oldData = read(dataPath), oldIndex = read(indexPath);
  auto lay = [](const QString& path, const std::optional<QByteArray>& bytes) {
    if (bytes)
      WriteFileBytes(path, *bytes);
    else
      QFile::remove(path);
  };
  auto restore = [&] {
    lay(dataPath, oldData);
    lay(indexPath, oldIndex);
    RemoveLeftovers(dataPath, indexPath);
  };
  auto runSafely = [&] {
    try {
      return run();
    } catch (const EJovError&) {
      return false;
    }
  };
  int steps;
  {
    TCrashFs fs;
    EXPECT_TRUE(runSafely()) << "the whole run failed";
    steps = fs.Count();
  }
  const std::optional<QByteArray> newData = read(dataPath), newIndex = read(indexPath);
  EXPECT_TRUE(newData && newIndex);
  auto check = [&](bool) {
    TCrashFs quick;
    TJOV reopened;
    const TOpenResult opened = reopened.Open(dataPath);
    reopened.Close();
    const std::optional<QByteArray> data = read(dataPath), index = read(indexPath);
    const bool isOld = data == oldData && index == oldIndex;
    const bool isNew = data == newData && index == newIndex;
    EXPECT_TRUE(isOld || isNew);
    EXPECT_EQ(opened, data ? TOpenResult::Opened : TOpenResult::Missing);
    EXPECT_FALSE(QFile::exists(TLibraryPaths::Of(dataPath).Switch()));
    return isNew;
  };
  FaultLoops(
      steps, seeds, restore, [&](bool) { return runSafely(); }, check);
  restore();
  lay(dataPath, newData);
  lay(indexPath, newIndex);
  return steps;
}
