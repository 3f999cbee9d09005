// Undo and redo: every kind of change given back byte for byte, several steps deep;
// an undo interrupted at any step; the refusals when the files changed behind the
// history's back; the history's limit.

#include "editing/undo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>

#include "common/errors.h"
#include "common/operation.h"
#include "editing/batchimport.h"
#include "editing/rangeedit.h"
#include "library/libfiles.h"
#include "library/myjov.h"
#include "support/crashloop.h"
#include "support/libbuilder.h"

namespace {

std::vector<uint8_t> Pixels(int w, int h, int first) {
  std::vector<uint8_t> v(size_t(w) * size_t(h));
  for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t(first + int(i) * 3);
  return v;
}

LibraryBuilder Five(int fileType) {
  LibraryBuilder b(fileType);
  const int sizes[][2] = {{8, 3}, {4, 1}, {12, 5}, {4, 2}, {16, 4}};
  int first = 1;
  for (const auto& [w, h] : sizes) {
    b.Add8(int16_t(w), int16_t(h), int16_t(first), int16_t(-first), Pixels(w, h, first));
    first += 40;
  }
  return b;
}

struct Change {
  const char* name;
  std::function<void(TJOV&)> run;
  const char* what;
};

std::vector<Change> Changes() {
  const std::vector<uint8_t> small = Pixels(4, 2, 7), big = Pixels(20, 9, 9);
  return {
      {"SetPlacement", [](TJOV& j) { j.SetImagePlacement(2, -300, 77); },
       "set the placement of image 2"},
      {"SetX", [](TJOV& j) { j.SetImagePx(4, 5); }, "set X of image 4"},
      {"ReplaceSameSize", [=](TJOV& j) { j.ReplaceRecord(3, 4, 2, small.data()); },
       "replace image 3"},
      {"ReplaceLarger", [=](TJOV& j) { j.ReplaceRecord(1, 20, 9, big.data()); }, "replace image 1"},
      {"ReplaceSmaller", [=](TJOV& j) { j.ReplaceRecord(2, 4, 2, small.data()); },
       "replace image 2"},
      {"Append", [=](TJOV& j) { j.AppendRecord(20, 9, 3, 4, big.data()); }, "append image 5"},
      {"InsertAt0", [=](TJOV& j) { InsertRecord(j, 0, 20, 9, 1, 2, big.data()); },
       "insert 1 image at 0"},
      {"InsertInTheMiddle", [=](TJOV& j) { InsertRecord(j, 3, 4, 2, 1, 2, small.data()); },
       "insert 1 image at 3"},
      {"DeleteFrom0", [](TJOV& j) { DeleteRange(j, 0, 1); }, "delete images 0 to 1"},
      {"DeleteTheLast", [](TJOV& j) { DeleteRange(j, 4, 4); }, "delete image 4"},
      {"Clear", [](TJOV& j) { ClearRange(j, 1, 3); }, "clear images 1 to 3"},
      {"PlacementsOfARange",
       [](TJOV& j) {
         ImportPlacements(j, QString(), {true, {9, -9}}, 0, 4);
       },
       "import the placements of images 0 to 4"},
  };
}

class UndoTest : public ::testing::TestWithParam<int> {
 protected:
  QTemporaryDir dir{ScratchTemplate()};
  QString dataPath, indexPath;
  void Lay() {
    dataPath = Five(GetParam()).Write(dir.path(), "lib");
    indexPath = dir.filePath("lib.JOX");
    QFile::remove(TLibraryPaths::Of(dataPath).History());
  }
  std::pair<QByteArray, QByteArray> Files() const {
    return {ReadFileBytes(dataPath), ReadFileBytes(indexPath)};
  }
};

// Each change alone: undone, the files are the old ones byte for byte; redone, the new
// ones; the history names it; and a second undo finds nothing.
TEST_P(UndoTest, EveryKindOfChangeUndoesAndRedoesExactly) {
  for (const Change& c : Changes()) {
    SCOPED_TRACE(c.name);
    Lay();
    const auto before = Files();
    TJOV jov;
    ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
    c.run(jov);
    const auto after = Files();
    ASSERT_NE(before, after);
    const THistoryStep step = NextStep(jov, THistoryRole::Undo);
    EXPECT_EQ(step.entry.what.toStdString(), c.what);
    EXPECT_FALSE(step.entry.refused);
    EXPECT_EQ(UndoOrRedo(jov, THistoryRole::Undo).toStdString(), c.what);
    EXPECT_TRUE(Files() == before);
    ExpectDescribesFiles(jov, dataPath);
    EXPECT_THROW(UndoOrRedo(jov, THistoryRole::Undo), EJovError);
    EXPECT_EQ(UndoOrRedo(jov, THistoryRole::Redo).toStdString(), c.what);
    EXPECT_TRUE(Files() == after);
    ExpectDescribesFiles(jov, dataPath);
    EXPECT_THROW(UndoOrRedo(jov, THistoryRole::Redo), EJovError);
  }
}

// All the changes one after the other, each from a newly opened library (as separate
// runs would): undone one by one back to the first state, each step giving the state
// before it; then redone to the last.  A new change after some undos drops what was
// undone.
TEST_P(UndoTest, ManyStepsDeepAcrossOpenings) {
  Lay();
  std::vector<std::pair<QByteArray, QByteArray>> states{Files()};
  for (const Change& c : Changes()) {
    TJOV jov;
    ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
    c.run(jov);
    states.push_back(Files());
  }
  for (size_t k = states.size() - 1; k > 0; --k) {
    TJOV jov;
    ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
    EXPECT_EQ(UndoOrRedo(jov, THistoryRole::Undo).toStdString(), Changes()[k - 1].what);
    ASSERT_TRUE(Files() == states[k - 1]) << "after undoing " << Changes()[k - 1].name;
  }
  for (size_t k = 1; k < states.size(); ++k) {
    TJOV jov;
    ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
    UndoOrRedo(jov, THistoryRole::Redo);
    ASSERT_TRUE(Files() == states[k]) << "after redoing " << Changes()[k - 1].name;
  }
  TJOV jov;
  ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
  UndoOrRedo(jov, THistoryRole::Undo);
  UndoOrRedo(jov, THistoryRole::Undo);
  jov.SetImagePx(0, 1234);
  EXPECT_EQ(NextStep(jov, THistoryRole::Redo).at, 0);
  const THistoryListing listing = ListHistory(jov.Paths());
  EXPECT_EQ(listing.done.size(), Changes().size() - 1);
  EXPECT_TRUE(listing.undone.empty());
  UndoOrRedo(jov, THistoryRole::Undo);
  EXPECT_TRUE(Files() == states[states.size() - 3]);
}

// An undo and a redo are changes like any other: a failure or a power cut at any of
// their steps leaves the files before or after them, and the history fitting them.
TEST_P(UndoTest, AnUndoOrRedoStoppedAtAnyStepLeavesOneStateOrTheOther) {
  const std::vector<Change> changes = Changes();
  for (const int k : {2, 6, 8}) {  // a same-size replace, an insert at 0, a delete from 0
    SCOPED_TRACE(changes[size_t(k)].name);
    // The loops leave the history as it was before them: each starts from its own state.
    for (const THistoryRole role : {THistoryRole::Undo, THistoryRole::Redo}) {
      Lay();
      {
        TJOV jov;
        ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
        changes[size_t(k)].run(jov);
        if (role == THistoryRole::Redo) UndoOrRedo(jov, THistoryRole::Undo);
      }
      ExpectCrashSafe(
          dataPath, indexPath, [&](TJOV& jov) { return !UndoOrRedo(jov, role).isEmpty(); }, 6,
          false);
    }
  }
}

// Acts when a change asks whether to stop for the last time: its files are flushed, its
// journal still has its title, and the commit point is still to come.
struct TAtLastQuestion final : TOperationDelegate {
  std::function<void()> act;
  bool CancelRequested() override {
    act();
    return false;
  }
};

// A power cut may leave a change's slot on the disk without the change's bytes, though
// with the data file's new time: the opening goes by the bytes, drops the slot and rolls
// the journal back.  When another program changed the library after the change
// committed, the opening leaves the library as it finds it.
TEST_P(UndoTest, ASlotThatReachedTheDiskWithoutItsChangeIsDroppedByTheOpening) {
  for (const bool lost : {true, false}) {
    SCOPED_TRACE(lost ? "the change's bytes lost" : "another program's change after it");
    Lay();
    const auto first = Files();
    TJOV jov;
    ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
    Changes()[0].run(jov);
    const QByteArray before = ReadFileBytes(dataPath);
    QByteArray journal;
    TAtLastQuestion keep;
    keep.act = [&] { journal = ReadFileBytes(jov.Paths().Journal()); };
    jov.ReplaceRecord(3, 4, 2, Pixels(4, 2, 7).data(), &keep);
    jov.Close();
    WriteFileBytes(jov.Paths().Journal(), journal);
    struct stat changed {};
    ASSERT_EQ(::stat(QFile::encodeName(dataPath).constData(), &changed), 0);
    const QByteArray expected = lost ? before : ReadFileBytes(dataPath) + "junk";
    QFile data(dataPath);
    ASSERT_TRUE(data.open(QIODevice::ReadWrite));
    ASSERT_EQ(data.write(expected), expected.size());
    data.close();
    const timespec times[2] = {changed.st_atim, changed.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(dataPath).constData(), times, 0), 0);

    ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
    EXPECT_EQ(ReadFileBytes(dataPath), expected);
    const THistoryStep step = NextStep(jov, THistoryRole::Undo);
    EXPECT_EQ(step.entry.refused, !lost);
    if (!lost) continue;
    EXPECT_EQ(UndoOrRedo(jov, THistoryRole::Undo).toStdString(), Changes()[0].what);
    EXPECT_TRUE(Files() == first);
  }
}

// Only a change whose every byte the state's checksums see sends its slot beside its
// files; one that moved bytes could pass the opening's check with some missing.
TEST_P(UndoTest, OnlyAChangeTheChecksumsSeeWholeSendsItsSlotBesideItsFiles) {
  const std::vector<uint8_t> small = Pixels(4, 2, 7);
  for (const bool moves : {false, true}) {
    Lay();
    TJOV jov;
    ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
    size_t listed = 0;
    TAtLastQuestion look;
    look.act = [&] { listed = ListHistory(jov.Paths()).done.size(); };
    if (moves)
      InsertRecord(jov, 3, 4, 2, 1, 2, small.data(), &look);
    else
      jov.ReplaceRecord(3, 4, 2, small.data(), &look);
    EXPECT_EQ(listed, moves ? 0u : 1u);
  }
}

// Files changed by a program that keeps no history: the entries taken from the state
// before are refused with a message and change nothing, until the history is cleared.
// Files only written again with their own bytes (their times changed, as a power cut may
// leave them) still fit, in the listing as in the undo.
TEST_P(UndoTest, AChangeBehindTheHistorysBackIsRefusedUntilCleared) {
  const struct {
    const char* name;
    std::function<void(QByteArray& data, QByteArray& index)> change;
  } elsewhere[] = {
      {"OnlyTheTimesChange", nullptr},
      {"DataGrows", [](QByteArray& d, QByteArray&) { d.append("junk"); }},
      {"AnEntryMoves", [](QByteArray&, QByteArray& i) { i[i.size() - 1] = char(i.back() + 1); }},
      {"APaletteByteChanges", [](QByteArray& d, QByteArray&) { d[100] = char(d[100] ^ 1); }},
  };
  for (const auto& e : elsewhere) {
    SCOPED_TRACE(e.name);
    Lay();
    TJOV jov;
    ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
    InsertRecord(jov, 1, 4, 1, 0, 0, Pixels(4, 1, 3).data());
    jov.Close();
    auto [data, index] = Files();
    if (e.change) e.change(data, index);
    WriteFileBytes(dataPath, data);
    WriteFileBytes(indexPath, index);
    ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
    const bool changed = e.change != nullptr;
    EXPECT_EQ(NextStep(jov, THistoryRole::Undo).entry.refused, changed);
    EXPECT_EQ(ListHistory(jov.Paths()).changedElsewhere, changed);
    if (!changed) continue;
    try {
      UndoOrRedo(jov, THistoryRole::Undo);
      ADD_FAILURE() << "an undo over files changed elsewhere";
    } catch (const EJovError& error) {
      EXPECT_TRUE(error.Message().contains(QStringLiteral("no longer fits"))) << error.what();
    }
    EXPECT_TRUE(Files() == std::pair(data, index));
    ClearLibraryHistory(jov);
    EXPECT_EQ(NextStep(jov, THistoryRole::Undo).at, 0);
    jov.SetImagePy(0, 3);
    UndoOrRedo(jov, THistoryRole::Undo);
    EXPECT_TRUE(Files() == std::pair(data, index));
  }
}

struct TAnswer : TOperationDelegate {
  bool answer;
  QStringList asked;
  explicit TAnswer(bool a) : answer(a) {}
  bool ConfirmWithoutUndo(const QString& text) override {
    asked << text;
    return answer;
  }
};

// A change larger than the limit asks first: no stops it, yes makes it without an entry
// and forgets what came before.  Under the limit the oldest entries give way, and a
// limit of 0 keeps no history at all.
TEST_P(UndoTest, TheLimitAsksDropsTheOldestOrKeepsNone) {
  Lay();
  TJOV jov;
  ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
  jov.SetHistoryLimit(300);
  jov.SetImagePx(0, 1);
  const auto before = Files();
  TAnswer no(false);
  EXPECT_THROW(DeleteRange(jov, 0, 2, &no), ECancelled);  // keeps 3 records of old bytes
  EXPECT_TRUE(Files() == before);
  ASSERT_EQ(no.asked.size(), 1);
  EXPECT_TRUE(no.asked[0].contains(QStringLiteral("cannot be undone")));
  TAnswer yes(true);
  DeleteRange(jov, 0, 2, &yes);
  EXPECT_EQ(NextStep(jov, THistoryRole::Undo).at, 0);
  EXPECT_FALSE(QFile::exists(TLibraryPaths::Of(dataPath).History()));

  jov.SetHistoryLimit(2000);
  for (int i = 0; i < 12; ++i) jov.SetImagePx(0, int16_t(i));
  const THistoryListing listing = ListHistory(jov.Paths());
  int64_t kept = 0;
  for (const THistoryEntry& e : listing.done) kept += e.bytes;
  EXPECT_LE(kept, 2000);
  EXPECT_GT(listing.done.size(), 1u);
  EXPECT_LT(listing.done.size(), 12u);
  EXPECT_EQ(listing.done.front().what, QStringLiteral("set X of image 0"));

  jov.SetHistoryLimit(0);
  jov.SetImagePx(0, 99);
  EXPECT_FALSE(QFile::exists(TLibraryPaths::Of(dataPath).History()));
}

// A change whose entry leaves less than half a step of room behind it makes the next
// step of the history after its commit point: that step failing, or cut short by the
// power, leaves the change made and undoable.
TEST_P(UndoTest, TheHistoryGrowsAheadAfterTheCommitWithoutRiskingIt) {
  LibraryBuilder b(GetParam());
  b.Add8(4, 2, 1, 1, Pixels(4, 2, 9));
  b.Add8(200, 200, 0, 0, Pixels(200, 200, 5));  // its 40,000 bytes are the entry
  dataPath = b.Write(dir.path(), "lib");
  indexPath = dir.filePath("lib.JOX");
  const QString history = TLibraryPaths::Of(dataPath).History();
  QFile::remove(history);
  auto deleteTheLast = [](TJOV& jov) { return DeleteRange(jov, 1, 1), true; };
  ExpectCrashSafe(dataPath, indexPath, deleteTheLast, 6);
  // The loops leave the new files and no history: once more, to see the step made ahead.
  b.Write(dir.path(), "lib");
  TJOV jov;
  ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
  const int64_t firstStep = 1024 + (64 << 10);
  ASSERT_EQ(deleteTheLast(jov), true);
  EXPECT_EQ(QFileInfo(history).size(), firstStep + (64 << 10));
}

INSTANTIATE_TEST_SUITE_P(FileTypes, UndoTest, ::testing::Values(0, 1),
                         [](const auto& info) { return "FileType" + std::to_string(info.param); });

}  // namespace
