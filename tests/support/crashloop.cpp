#include "support/crashloop.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

#include "common/errors.h"
#include "library/jovjournal.h"
#include "library/myjov.h"
#include "support/crashfs.h"
#include "support/libbuilder.h"

namespace {

QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Runs the operation on a freshly opened library; exceptions count as failure.
bool RunOnce(const QString& dataPath, const std::function<bool(TJOV&)>& run) {
  TJOV jov;
  jov.FileName = dataPath;
  if (jov.Open() != TOpenResult::Opened) return false;
  try {
    return run(jov);
  } catch (const EJovError&) {
    return false;
  }
}

}  // namespace

QString ScratchTemplate() {
  const QFileInfo shm(QStringLiteral("/dev/shm"));
  return shm.isDir() && shm.isWritable() ? QStringLiteral("/dev/shm/jovcrash-XXXXXX") : QString();
}

int ExpectCrashSafe(const QString& dataPath, const QString& indexPath,
                    const std::function<bool(TJOV&)>& run, int seeds) {
  const QByteArray oldData = ReadBytes(dataPath), oldIndex = ReadBytes(indexPath);
  auto restore = [&] {
    WriteFileBytes(dataPath, oldData);
    WriteFileBytes(indexPath, oldIndex);
    QFile::remove(JournalPathOf(dataPath));
  };
  int steps;
  {
    TCrashFs fs;
    EXPECT_TRUE(RunOnce(dataPath, run)) << "the whole run failed";
    steps = fs.Count();
  }
  const QByteArray newData = ReadBytes(dataPath), newIndex = ReadBytes(indexPath);
  // Reopens (recovering under a simulated disk, so nothing waits for a real flush) and
  // compares.  Returns whether the files are the new ones.
  auto check = [&]() {
    TCrashFs quick;
    TJOV reopened;
    reopened.FileName = dataPath;
    EXPECT_EQ(reopened.Open(), TOpenResult::Opened);
    reopened.Close();
    const QByteArray data = ReadBytes(dataPath), index = ReadBytes(indexPath);
    const bool isOld = data == oldData && index == oldIndex;
    const bool isNew = data == newData && index == newIndex;
    EXPECT_TRUE(isOld || isNew);
    EXPECT_FALSE(QFile::exists(JournalPathOf(dataPath)));
    return isNew;
  };

  for (int k = 1; k <= steps; ++k) {
    SCOPED_TRACE(testing::Message() << "failing step " << k << " of " << steps);
    restore();
    bool ok;
    {
      TCrashFs fs;
      fs.FailAt(k);
      TJOV jov;
      jov.FileName = dataPath;
      EXPECT_EQ(jov.Open(), TOpenResult::Opened);
      try {
        ok = run(jov);
      } catch (const EJovError&) {
        ok = false;
      }
      // What the object knows is what the files hold.
      if (jov.IsOpen()) {
        TJOV fresh;
        fresh.FileName = dataPath;
        fresh.Open();
        EXPECT_EQ(jov.ImageCount, fresh.ImageCount);
        EXPECT_EQ(jov.IndexEntries, fresh.IndexEntries);
      }
    }
    const bool isNew = check();
    // Only the flush of the folder after the commit point fails with the change made.
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
      RunOnce(dataPath, run);
      EXPECT_TRUE(fs.CutHappened());
      fs.Cut(uint32_t(seed) * 7919u + uint32_t(k));
      check();
    }
  }
  restore();
  WriteFileBytes(dataPath, newData);
  WriteFileBytes(indexPath, newIndex);
  return steps;
}
