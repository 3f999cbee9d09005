// Inserts, deletes and size-changing replaces that shift the data file's blocks instead of copying
// its tail: the same images as the copying edit, a gap of less than a block, and a failure or a
// power cut at any step (the shift lost, kept or left half done) undone or kept whole.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <functional>

#include "editing/rangeedit.h"
#include "editing/undo.h"
#include "library/myjov.h"
#include "library/transaction.h"
#include "support/crashfs.h"
#include "support/crashloop.h"
#include "support/libbuilder.h"
#include "support/loopfs.h"

namespace {

constexpr int64_t kPage = TCrashFs::kPage;

// Every crash layer made while it lives shifts by pages, and every tail is worth it.
struct TShifting {
  explicit TShifting(int64_t unit = kPage, bool refuse = false)
      : unit_(std::exchange(TCrashFs::shiftUnitForNew, unit)),
        refuse_(std::exchange(TCrashFs::refuseShiftsForNew, refuse)),
        floor_(TJovTransaction::SetShiftFloor(0)) {}
  ~TShifting() {
    TCrashFs::shiftUnitForNew = unit_;
    TCrashFs::refuseShiftsForNew = refuse_;
    TJovTransaction::SetShiftFloor(floor_);
  }

 private:
  int64_t unit_;
  bool refuse_;
  int64_t floor_;
};

// Twelve records of 1 to 4 KiB: a tail of several pages behind each of them.
LibraryBuilder Library(int fileType) {
  LibraryBuilder b(fileType);
  for (int i = 0; i < 12; ++i) {
    const int16_t w = int16_t(i == 3 ? 96 : 32 + 8 * (i % 5)), h = int16_t(30 + i * 3);
    std::vector<uint8_t> pixels(size_t(w) * size_t(h));
    for (size_t k = 0; k < pixels.size(); ++k) pixels[k] = uint8_t(i * 31 + k);
    b.Add8(w, h, int16_t(i - 6), int16_t(2 * i), pixels);
  }
  return b;
}

struct Image {
  int w, h, px, py;
  std::vector<uint8_t> rows;
  bool operator==(const Image&) const = default;
};

std::vector<Image> Images(const QString& path) {
  TJOV jov;
  EXPECT_EQ(jov.Open(path), TOpenResult::Opened);
  std::vector<Image> images;
  for (int i = 0; i < jov.ImageCount(); ++i) {
    const uint8_t* rows = jov.StoredRows8(i);
    EXPECT_NE(rows, nullptr);
    if (!rows) break;
    images.push_back({jov.Width(),
                      jov.Height(),
                      jov.px(),
                      jov.py(),
                      {rows, rows + size_t(jov.Width()) * size_t(jov.Height())}});
  }
  return images;
}

const std::vector<uint8_t> kInserted(64 * 40, 77);

struct Case {
  const char* name;
  std::function<bool(TJOV&)> run;
  bool shifts;  // whether the data file is big enough behind the edit to shift
  // A record shrunk by less than a page: written where it lies with a gap behind it,
  // wherever pages could shift, and nothing else moves.
  bool inPlace = false;
};

std::vector<Case> Cases() {
  auto insert = [](int at) {
    return [at](TJOV& jov) {
      InsertRecord(jov, at, 64, 40, 3, -4, kInserted.data());
      return true;
    };
  };
  auto remove = [](int s, int e) {
    return [s, e](TJOV& jov) {
      DeleteRange(jov, s, e);
      return true;
    };
  };
  auto replace = [](int index, int w, int h) {
    return [=](TJOV& jov) {
      return jov.ReplaceRecord(index, w, h, std::vector<uint8_t>(size_t(w) * h, 66).data());
    };
  };
  return {{"insert at 0", insert(0), true},
          {"replace image 0 by a larger picture", replace(0, 64, 80), true},
          {"replace image 3 by a smaller picture", replace(3, 8, 8), true, true},
          {"replace image 2 by a slightly larger picture", replace(2, 48, 40), true},
          {"insert in the middle", insert(6), true},
          {"delete 1..5", remove(1, 5), true},
          {"delete 4..8", remove(4, 8), true},
          {"delete one record, less than a page", remove(1, 1), false},
          {"delete up to the end", remove(9, 11), false}};
}

class ShiftTest : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    dataPath = Library(GetParam()).Write(dir.path(), "lib");
    indexPath = TLibraryPaths::Of(dataPath).Index();
    oldData = ReadFileBytes(dataPath);
    oldIndex = ReadFileBytes(indexPath);
  }
  void Restore() {
    WriteFileBytes(dataPath, oldData);
    WriteFileBytes(indexPath, oldIndex);
    QFile::remove(TLibraryPaths::Of(dataPath).History());
  }
  // The edit run on the crash layer with the given unit (0: copying); the data file after.
  QByteArray RunWith(const Case& c, int64_t unit, bool refuse = false) {
    Restore();
    TShifting shifting(unit, refuse);
    TCrashFs fs;
    TJOV jov;
    EXPECT_EQ(jov.Open(dataPath), TOpenResult::Opened);
    EXPECT_TRUE(c.run(jov));
    ExpectDescribesFiles(jov, dataPath);
    return ReadFileBytes(dataPath);
  }

  QTemporaryDir dir{ScratchTemplate()};
  QString dataPath, indexPath;
  QByteArray oldData, oldIndex;
};

TEST_P(ShiftTest, ShiftedEditsGiveTheImagesOfCopyingOnesWithLessThanAPageOfGap) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const QByteArray copied = RunWith(c, 0);
    const std::vector<Image> expected = Images(dataPath);
    const QByteArray copiedIndex = ReadFileBytes(indexPath);
    const QByteArray refused = RunWith(c, kPage, true);
    if (!c.inPlace) {
      EXPECT_EQ(refused, copied) << "a file system that refuses gets the copying edit";
      EXPECT_EQ(ReadFileBytes(indexPath), copiedIndex);
    }
    const QByteArray shifted = RunWith(c, kPage);
    EXPECT_EQ(Images(dataPath), expected);
    if (c.inPlace) {
      EXPECT_EQ(shifted, refused) << "no shift was asked for";
      EXPECT_EQ(shifted.size(), oldData.size());
      EXPECT_EQ(ReadFileBytes(indexPath), oldIndex);
    }
    const int64_t gap = shifted.size() - copied.size();
    EXPECT_GE(gap, 0);
    EXPECT_LT(gap, kPage);
    // A shift moves by whole pages; where none pays, the edit is the copying one.
    const int64_t moved = std::abs(shifted.size() - oldData.size());
    if (c.shifts)
      EXPECT_EQ(moved % kPage, 0) << moved;
    else
      EXPECT_EQ(shifted, copied);
  }
}

TEST_P(ShiftTest, AFailureOrAPowerCutAtAnyStepOfAShiftLeavesTheOldOrTheNewFiles) {
  TShifting shifting;
  for (const Case& c : Cases()) {
    if (!c.shifts) continue;
    SCOPED_TRACE(c.name);
    Restore();
    EXPECT_GT(ExpectCrashSafe(dataPath, indexPath, c.run, 5), 5);
  }
}

// The undo of a shifted edit shifts back and its redo shifts again: stopped at any step,
// either leaves the files before or after it, and run whole, exactly those.
TEST_P(ShiftTest, UndoAndRedoOfAShiftedEditStopSafelyAnywhere) {
  TShifting shifting;
  for (const Case& c : Cases()) {
    if (!c.shifts || c.inPlace) continue;
    SCOPED_TRACE(c.name);
    RunWith(c, kPage);
    const QByteArray newData = ReadFileBytes(dataPath), newIndex = ReadFileBytes(indexPath);
    const QString historyPath = TLibraryPaths::Of(dataPath).History();
    const QByteArray history = ReadFileBytes(historyPath);
    for (const THistoryRole role : {THistoryRole::Undo, THistoryRole::Redo}) {
      // Each loop starts from the state its step was taken from.
      WriteFileBytes(dataPath, newData);
      WriteFileBytes(indexPath, newIndex);
      WriteFileBytes(historyPath, history);
      const bool undo = role == THistoryRole::Undo;
      if (!undo) {
        TJOV jov;
        ASSERT_EQ(jov.Open(dataPath), TOpenResult::Opened);
        UndoOrRedo(jov, THistoryRole::Undo);
      }
      ExpectCrashSafe(
          dataPath, indexPath, [&](TJOV& jov) { return !UndoOrRedo(jov, role).isEmpty(); }, 5,
          false);
      EXPECT_EQ(ReadFileBytes(dataPath), undo ? oldData : newData);
      EXPECT_EQ(ReadFileBytes(indexPath), undo ? oldIndex : newIndex);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(FileTypes, ShiftTest, testing::Values(0, 1));

// Runs an edit once, on the files as they are; whether it reported success.
bool RunOnce(const QString& dataPath, const Case& c) {
  TJOV jov;
  if (jov.Open(dataPath) != TOpenResult::Opened) return false;
  try {
    return c.run(jov);
  } catch (const EJovError&) {
    return false;
  }
}

// On real ext4 and XFS, made on loop devices: the edits move extents, and a process
// stopped at any step (everything it did kept, as after a kill) leaves files whose
// recovery, shifting back for real, gives exactly the old ones or the new.
class RealShiftTest : public testing::TestWithParam<const char*> {};

TEST_P(RealShiftTest, EditsShiftExtentsAndAStopAtAnyStepIsUndoneOrKept) {
  TLoopFs fs(GetParam(), 400);
  if (!fs.Skipped().isEmpty()) GTEST_SKIP() << fs.Skipped().toStdString();
  const QString dataPath = Library(0).Write(fs.Root(), "lib");
  const QString indexPath = TLibraryPaths::Of(dataPath).Index();
  const QByteArray oldData = ReadFileBytes(dataPath), oldIndex = ReadFileBytes(indexPath);
  auto restore = [&] {
    WriteFileBytes(dataPath, oldData);
    WriteFileBytes(indexPath, oldIndex);
    const TLibraryPaths paths = TLibraryPaths::Of(dataPath);
    for (const QString& path : {paths.Journal(), paths.History()}) QFile::remove(path);
  };
  for (const Case& c : Cases()) {
    if (!c.shifts) continue;
    SCOPED_TRACE(c.name);
    restore();
    ASSERT_TRUE(RunOnce(dataPath, c));
    const std::vector<Image> expected = Images(dataPath);
    restore();
    int steps;
    {
      TShifting shifting(0);
      TCrashFs counting;
      ASSERT_TRUE(RunOnce(dataPath, c));
      steps = counting.Count();
    }
    const QByteArray newData = ReadFileBytes(dataPath), newIndex = ReadFileBytes(indexPath);
    EXPECT_EQ(Images(dataPath), expected);
    EXPECT_EQ(std::abs(newData.size() - oldData.size()) % kPage, 0) << "moved by blocks";
    for (int k = 1; k <= steps; ++k) {
      SCOPED_TRACE(testing::Message() << "stopped at step " << k << " of " << steps);
      restore();
      {
        TShifting shifting(0);
        TCrashFs stop;
        stop.CutAt(k);
        RunOnce(dataPath, c);
      }
      TJOV reopened;
      ASSERT_EQ(reopened.Open(dataPath), TOpenResult::Opened);
      reopened.Close();
      const QByteArray data = ReadFileBytes(dataPath), index = ReadFileBytes(indexPath);
      EXPECT_TRUE((data == oldData && index == oldIndex) || (data == newData && index == newIndex));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, RealShiftTest, testing::Values("ext4", "xfs"));

}  // namespace
