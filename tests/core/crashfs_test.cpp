// The crash-test file layer itself: what a power cut leaves of renames.

#include "support/crashfs.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "common/errors.h"
#include "common/fileio.h"
#include "support/libbuilder.h"

namespace {

QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

TEST(CrashFs, ARenameIsWholeAndDurableOnceItsFolderIsFlushed) {
  QTemporaryDir dir;
  const QString a = dir.filePath("a"), b = dir.filePath("b");
  for (bool flushed : {false, true}) {
    int renamed = 0, kept = 0;
    for (uint32_t seed = 0; seed < 32; ++seed) {
      WriteFileBytes(a, "new");
      WriteFileBytes(b, "old");
      TCrashFs fs;
      fs.CutAt(flushed ? 3 : 2);
      RenameFile(a, b);
      if (flushed) SyncFolder(dir.path());
      EXPECT_THROW(SyncFolder(dir.path()), EWriteError);
      EXPECT_THROW(RemoveFile(b), EWriteError);
      fs.Cut(seed);
      // Exactly before or exactly after: the file under one name, never both or none.
      const QByteArray atA = ReadBytes(a), atB = ReadBytes(b);
      if (atA == "<none>" && atB == "new") {
        ++renamed;
      } else {
        EXPECT_EQ(atA, "new");
        EXPECT_EQ(atB, "old");
        ++kept;
      }
    }
    EXPECT_GT(renamed, 0);
    EXPECT_EQ(kept > 0, !flushed);
  }
}

TEST(CrashFs, ARenamedFileKeepsItsUnflushedWrites) {
  QTemporaryDir dir;
  const QString a = dir.filePath("a"), b = dir.filePath("b");
  bool sawWrite = false, sawNoWrite = false;
  for (uint32_t seed = 0; seed < 32; ++seed) {
    QFile::remove(b);
    WriteFileBytes(a, "aaaa");
    TCrashFs fs;
    fs.CutAt(4);
    TFile::Open(a, TFile::Mode::ReadWrite)->WriteAt(0, "bb", 2);
    RenameFile(a, b);
    SyncFolder(dir.path());
    EXPECT_THROW(SyncFolder(dir.path()), EWriteError);
    fs.Cut(seed);
    EXPECT_FALSE(QFile::exists(a));
    const QByteArray atB = ReadBytes(b);
    EXPECT_TRUE(atB == "aaaa" || atB == "bbaa") << atB.constData();
    (atB == "bbaa" ? sawWrite : sawNoWrite) = true;
  }
  EXPECT_TRUE(sawWrite && sawNoWrite);
}

}  // namespace
