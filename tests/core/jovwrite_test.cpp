// The record and placement writers: the bytes they leave, and what a failure or a power
// cut at any point of a change leaves behind.

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>

#include "common/byteio.h"
#include "common/errors.h"
#include "library/jovformat.h"
#include "library/myjov.h"
#include "library/pairswitch.h"
#include "library/transaction.h"
#include "support/crashloop.h"
#include "support/libbuilder.h"

namespace {

struct Rec {
  int16_t w, h, px, py;
  uint8_t first;  // pixels are first, first + 1, ...
};

std::vector<uint8_t> Pixels(const Rec& r) {
  std::vector<uint8_t> v(size_t(r.w) * size_t(r.h));
  for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t(r.first + i);
  return v;
}

LibraryBuilder Build(int fileType, const std::vector<Rec>& recs, const QByteArray& trailing = {}) {
  LibraryBuilder b(fileType);
  for (const Rec& r : recs) b.Add8(r.w, r.h, r.px, r.py, Pixels(r));
  b.AddBytes(trailing);
  return b;
}

// Three records of different sizes: 8 x 3, 4 x 1, 4 x 2.
const std::vector<Rec> kThree = {{8, 3, 5, -6, 10}, {4, 1, -1, 2, 60}, {4, 2, 7, 8, 90}};

struct Case {
  const char* name;
  // What the writer does; returns its result.
  std::function<bool(TJOV&)> run;
  // The library afterwards, for a library of kThree, and the stale bytes behind it as a
  // count of the old file's last bytes.
  std::vector<Rec> after;
  int staleTail = 0;
  bool result = true;
  // For the placement writers: image, field offset and value written over the old bytes
  // (they leave the copy of the placement that FileType 1 records carry).
  int setImage = -1, setField = 0, setValue = 0;
};

bool Replace(TJOV& jov, int index, const Rec& r) {
  const std::vector<uint8_t> pixels = Pixels(r);
  return jov.ReplaceRecord(index, r.w, r.h, pixels.data());
}
bool Append(TJOV& jov, const Rec& r) {
  const std::vector<uint8_t> pixels = Pixels(r);
  jov.AppendRecord(r.w, r.h, r.px, r.py, pixels.data());
  return true;
}

std::vector<Case> Cases() {
  const Rec a = kThree[0], b = kThree[1], c = kThree[2];
  return {
      {"SameSizeInPlace",
       [](TJOV& j) {
         return Replace(j, 1, {4, 1, 0, 0, 200});
       },
       {a, {4, 1, -1, 2, 200}, c}},
      {"SmallerMovesLaterRecordsForward",
       [](TJOV& j) {
         return Replace(j, 0, {4, 2, 0, 0, 150});
       },
       {{4, 2, 5, -6, 150}, b, c},
       24 - 8},
      {"LargerMovesLaterRecordsBack",
       [](TJOV& j) {
         return Replace(j, 1, {12, 5, 0, 0, 30});
       },
       {a, {12, 5, -1, 2, 30}, c}},
      {"LastImageLarger",
       [](TJOV& j) {
         return Replace(j, 2, {8, 4, 0, 0, 1});
       },
       {a, b, {8, 4, 7, 8, 1}}},
      {"LastImageSmaller",
       [](TJOV& j) {
         return Replace(j, 2, {4, 1, 0, 0, 1});
       },
       {a, b, {4, 1, 7, 8, 1}},
       4},
      {"Append",
       [](TJOV& j) {
         return Append(j, {8, 2, -300, 301, 40});
       },
       {a, b, c, {8, 2, -300, 301, 40}}},
      {"AppendBlank", [](TJOV& j) { return j.AppendBlankImage(); }, {a, b, c, {1, 1, 1, 1, 0}}},
      {"SetPx", [](TJOV& j) { return j.SetImagePx(1, -1234); }, kThree, 0, true, 1, 4, -1234},
      {"SetPy", [](TJOV& j) { return j.SetImagePy(2, 32767); }, kThree, 0, true, 2, 6, 32767},
      {"ReplaceBeyondTheLastImage",
       [](TJOV& j) {
         return Replace(j, 3, {4, 1, 0, 0, 1});
       },
       kThree, 0, false},
  };
}

class WriteTest : public ::testing::TestWithParam<int> {
 protected:
  QTemporaryDir dir{ScratchTemplate()};
  QString dataPath, indexPath;
  QByteArray oldData, oldIndex;

  void Lay(const LibraryBuilder& b) {
    dataPath = b.Write(dir.path(), "lib");
    indexPath = dir.filePath("lib.JOX");
    oldData = ReadFileBytes(dataPath);
    oldIndex = ReadFileBytes(indexPath);
  }
  // The expected files of a case, built independently of the writers.
  std::pair<QByteArray, QByteArray> Expected(const Case& c) {
    const LibraryBuilder b = Build(GetParam(), c.after, oldData.right(c.staleTail));
    QByteArray data = b.Data();
    if (c.setImage >= 0) {
      const auto* entries =
          reinterpret_cast<const uint8_t*>(oldIndex.constData()) + 48 + 4 * GetParam();
      const int at = GetI32(entries + 4 * c.setImage) + c.setField;
      data[at] = char(c.setValue & 0xFF);
      data[at + 1] = char((c.setValue >> 8) & 0xFF);
    }
    return {data, b.Index()};
  }
};

TEST_P(WriteTest, WritersLeaveTheDocumentedBytes) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    Lay(Build(GetParam(), kThree));
    TJOV jov;
    ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
    EXPECT_EQ(c.run(jov), c.result);
    const auto [data, index] = Expected(c);
    EXPECT_EQ(ReadFileBytes(dataPath), data);
    EXPECT_EQ(ReadFileBytes(indexPath), index);
    EXPECT_FALSE(JournalIsHot(TLibraryPaths::Of(dataPath)));
    ExpectDescribesFiles(jov, dataPath);
    // The record reads back as written.
    if (c.result && c.setImage < 0) {
      const Rec& last = c.after.back();
      jov.ImageAt(jov.ImageCount() - 1);
      EXPECT_EQ(jov.px(), last.px);
      EXPECT_EQ(jov.py(), last.py);
    }
  }
}

TEST_P(WriteTest, AppendWritesItsEntryAtItsOwnPlaceAndDropsStaleOnes) {
  LibraryBuilder b = Build(GetParam(), kThree);
  b.AddEntry(999999);  // left behind the count by an interrupted run
  b.AddEntry(888888);
  b.dataCount = b.indexCount = 3;
  Lay(b);
  TJOV jov;
  ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
  ASSERT_TRUE(jov.AppendBlankImage());
  LibraryBuilder expected = Build(GetParam(), {kThree[0], kThree[1], kThree[2], {1, 1, 1, 1, 0}});
  EXPECT_EQ(ReadFileBytes(indexPath), expected.Index());
  EXPECT_EQ(ReadFileBytes(dataPath), expected.Data());
}

TEST_P(WriteTest, ALibraryWithoutImagesHasNothingToReplace) {
  Lay(Build(GetParam(), {}));
  TJOV jov;
  ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
  EXPECT_FALSE(Replace(jov, 0, {4, 1, 0, 0, 1}));
  EXPECT_EQ(ReadFileBytes(dataPath), oldData);
  EXPECT_EQ(ReadFileBytes(indexPath), oldIndex);
}

// Every step of every writer fails in turn, and the power goes at every step with the
// disk keeping any subset of what was not flushed, torn at sectors: the next opening
// finds the old pair or the new pair, which are the documented bytes.
TEST_P(WriteTest, AFailureOrAPowerCutAtAnyStepLeavesTheOldOrTheNewFiles) {
  for (const Case& c : Cases()) {
    if (!c.result) continue;
    SCOPED_TRACE(c.name);
    Lay(Build(GetParam(), kThree));
    const auto [newData, newIndex] = Expected(c);
    EXPECT_GT(ExpectCrashSafe(dataPath, indexPath, c.run), 3);
    EXPECT_EQ(ReadFileBytes(dataPath), newData);
    EXPECT_EQ(ReadFileBytes(indexPath), newIndex);
    // After an earlier change of the same open library, whose journal (a longer one:
    // the whole record) the change then writes over.  The earlier change has its own
    // entry in the history, so a run that fails still leaves one to undo.
    Lay(Build(GetParam(), kThree));
    const std::vector<uint8_t> same = Pixels(kThree[0]);
    ExpectCrashSafe(
        dataPath, indexPath,
        [&](TJOV& jov) {
          return jov.ReplaceRecord(0, kThree[0].w, kThree[0].h, same.data()) && c.run(jov);
        },
        4, false);
    EXPECT_EQ(ReadFileBytes(dataPath), newData);
  }
}

INSTANTIATE_TEST_SUITE_P(FileTypes, WriteTest, ::testing::Values(0, 1),
                         [](const auto& info) { return "FileType" + std::to_string(info.param); });

TEST(WriteLockTest, ASecondWriterIsRefusedWhileTheFirstHoldsTheLibrary) {
  QTemporaryDir dir;
  const QString path = Build(0, kThree).Write(dir.path(), "lib");
  TJOV first, second;
  ASSERT_EQ(first.Open(path), TOpenResult::Opened);
  ASSERT_EQ(second.Open(path), TOpenResult::Opened);
  ASSERT_TRUE(first.DataStream()->TryLock());  // as a change under way holds it
  EXPECT_THROW(second.SetImagePx(0, 3), ELibraryBusy);
  EXPECT_FALSE(second.AppendBlankImage());
  first.DataStream()->Unlock();
  EXPECT_TRUE(second.SetImagePx(0, 3));
}

// What an earlier run left beside a library goes when it is opened, unless a writer
// still holds the library: a new pair never switched in, an idle journal.  A hot journal
// under a held lock is a change under way: the opening waits, then says the library is busy.
TEST(WriteLockTest, AnOpeningClearsLeftoversThatNoWriterHolds) {
  struct Case {
    const char* name;
    bool newPair, idleJournal, hotJournal, lockHeld;
  };
  const Case cases[] = {
      {"new pair", true, false, false, false},
      {"new pair, lock held", true, false, false, true},
      {"idle journal", false, true, false, false},
      {"idle journal, lock held", false, true, false, true},
      {"hot journal, lock held", false, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    const QString path = Build(0, kThree).Write(dir.path(), "lib");
    const QString index = dir.filePath("lib.JOX");
    const QByteArray before = ReadFileBytes(path);
    if (c.newPair) {
      WriteFileBytes(TLibraryPaths::Of(path).NewFile(TLibFile::Data), QByteArray(5000, 'n'));
      WriteFileBytes(TLibraryPaths::Of(path).NewFile(TLibFile::Index), QByteArray(60, 'n'));
    }
    if (c.idleJournal) WriteFileBytes(TLibraryPaths::Of(path).Journal(), QByteArray(100, '\0'));
    if (c.hotJournal) WriteFileBytes(TLibraryPaths::Of(path).Journal(), "JOVJRNL1 under way");
    std::unique_ptr<TFile> writer = TFile::Open(path, TFile::Mode::ReadWrite);
    if (c.lockHeld) {
      ASSERT_TRUE(writer->TryLock());
    }
    TJOV jov;
    if (c.hotJournal) {
      EXPECT_THROW(jov.Open(path), ELibraryBusy);
    } else {
      ASSERT_EQ(jov.Open(path), TOpenResult::Opened);
      EXPECT_EQ(jov.ImageCount(), 3);
    }
    const bool leftoversStay = c.lockHeld;
    EXPECT_EQ(QFile::exists(TLibraryPaths::Of(path).NewFile(TLibFile::Data)),
              c.newPair && leftoversStay);
    EXPECT_EQ(QFile::exists(TLibraryPaths::Of(path).NewFile(TLibFile::Index)),
              c.newPair && leftoversStay);
    EXPECT_EQ(QFile::exists(TLibraryPaths::Of(path).Journal()),
              (c.idleJournal || c.hotJournal) && leftoversStay);
    EXPECT_EQ(ReadFileBytes(path), before);
  }
}

// The journal stays, idle, between the changes of an open library and goes when it is
// closed, or when the object opens another library.
TEST(WriteLockTest, TheJournalKeptBetweenChangesGoesWithTheLibrary) {
  QTemporaryDir dir;
  const QString a = Build(0, kThree).Write(dir.path(), "a");
  const QString b = Build(0, kThree).Write(dir.path(), "b");
  for (const bool openAnother : {false, true}) {
    SCOPED_TRACE(openAnother);
    TJOV jov;
    ASSERT_EQ(jov.Open(a), TOpenResult::Opened);
    EXPECT_TRUE(jov.SetImagePx(0, 1));
    EXPECT_TRUE(jov.SetImagePx(1, 2));
    EXPECT_TRUE(QFile::exists(TLibraryPaths::Of(a).Journal()));
    EXPECT_FALSE(JournalIsHot(TLibraryPaths::Of(a)));
    if (openAnother) {
      ASSERT_EQ(jov.Open(b), TOpenResult::Opened);
    } else {
      jov.Close();
    }
    EXPECT_FALSE(QFile::exists(TLibraryPaths::Of(a).Journal()));
  }
}

TEST(WriteLockTest, ALibraryLeftHalfChangedOnReadOnlyMediaIsNotRead) {
  QTemporaryDir dir;
  const QString path = Build(0, kThree).Write(dir.path(), "lib");
  WriteFileBytes(TLibraryPaths::Of(path).Journal(), "JOVJRNL1 whatever");
  // A medium that opens files for reading only.
  auto old = TFile::SetFactory([](const QString& p, TFile::Mode mode) {
    if (mode != TFile::Mode::Read) throw EFOpenError(std::string("read-only file system"));
    return TFile::OpenNative(p, mode);
  });
  TJOV jov;
  try {
    jov.Open(path);
    ADD_FAILURE() << "opened";
  } catch (const ERecoveryFailed& e) {
    EXPECT_TRUE(e.Message().contains(TLibraryPaths::Of(path).Journal()));
  }
  TFile::SetFactory(old);
  EXPECT_FALSE(jov.IsOpen());
}

}  // namespace

namespace {

TEST(JournalTest, OldBytesStayReadableAndWritesOutsideTheJournalAreRefused) {
  QTemporaryDir dir;
  const QString path = Build(0, kThree).Write(dir.path(), "lib");
  const QByteArray before = ReadFileBytes(path);
  TJOV jov;
  ASSERT_EQ(jov.Open(path), TOpenResult::Opened);
  jov.Change([&](TJovTransaction& t) {
    t.Protect(TLibFile::Data, 100, 200);
    t.Begin();
    const QByteArray ones(200, '\1');
    t.Write(TLibFile::Data, 100, ones.constData(), ones.size());
    QByteArray old(150, '\0');
    t.ReadOld(TLibFile::Data, 130, old.data(), old.size());
    EXPECT_EQ(old, before.mid(130, 150));
    EXPECT_THROW(t.Write(TLibFile::Data, 290, ones.constData(), 20), std::logic_error);
    // Past the old end needs no journal.
    t.Write(TLibFile::Data, before.size(), ones.constData(), 4);
  });  // not committed: rolled back
  EXPECT_EQ(ReadFileBytes(path), before);
}

}  // namespace

namespace {

// Another program puts a new pair in place by renaming (a change that rewrote the data
// file, a create, a compact).  The same library (header and palette) is taken up and
// changed where it now lies; a different one is refused, and nothing goes through the
// old file either way.
TEST(WriteLockTest, ALibraryReplacedByAnotherProgramIsTakenUpOnlyWhenItIsTheSameLibrary) {
  for (const bool samePalette : {true, false}) {
    SCOPED_TRACE(samePalette);
    QTemporaryDir dir;
    const QString path = Build(0, kThree).Write(dir.path(), "lib");
    TJOV jov;
    ASSERT_EQ(jov.Open(path), TOpenResult::Opened);
    LibraryBuilder other = Build(0, {kThree[2]});
    if (!samePalette) other.palette[7] ^= 0x40;
    const QByteArray replacement = other.Data();
    WriteFileBytes(path + "-other", replacement);
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::rename(path + "-other", path));
    if (!samePalette) {
      EXPECT_THROW(jov.SetImagePx(0, 9), ELibraryReplaced);
      EXPECT_EQ(ReadFileBytes(path), replacement);
      jov.Close();
      ASSERT_EQ(jov.Open(path), TOpenResult::Opened);
    }
    EXPECT_TRUE(jov.SetImagePx(0, 9));
    EXPECT_EQ(jov.ImageCount(), 1);
    EXPECT_EQ(GetI16(reinterpret_cast<const uint8_t*>(ReadFileBytes(path).constData()) +
                     ::jov::kFirstRecord + 4),
              9);
  }
}

}  // namespace

namespace {

TEST(WriteTestWithoutIndex, PlacementsOfImagesTheIndexDoesNotReachChangeNothing) {
  QTemporaryDir dir;
  const QString path = Build(0, kThree).Write(dir.path(), "lib");
  ASSERT_TRUE(QFile::remove(dir.filePath("lib.JOX")));
  const QByteArray before = ReadFileBytes(path);
  TJOV jov;
  ASSERT_EQ(jov.Open(path), TOpenResult::Opened);
  EXPECT_TRUE(jov.SetImagePx(0, 5));
  EXPECT_TRUE(jov.SetImagePlacement(2, 5, 6));
  EXPECT_EQ(ReadFileBytes(path), before);
  EXPECT_FALSE(JournalIsHot(TLibraryPaths::Of(path)));
}

}  // namespace
