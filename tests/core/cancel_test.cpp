// Stopping a long operation: at every step it asks whether to stop, a stop rolls the
// change back, and the library is then byte for byte as before with nothing left beside
// it, before any later opening could recover anything.  A window in this program that
// shows the library while another object changes it in place reads the old bytes until
// it opens the library again.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <thread>

#include "common/errors.h"
#include "common/operation.h"
#include "editing/batchimport.h"
#include "editing/createlib.h"
#include "editing/rangeedit.h"
#include "library/myjov.h"
#include "library/oldview.h"
#include "support/crashloop.h"
#include "support/libbuilder.h"

namespace {

// Asks to stop at the stopAt-th time it is asked (never when 0); counts the askings.
class TStopAt final : public TOperationDelegate {
 public:
  explicit TStopAt(int stopAt) : stopAt_(stopAt) {}
  bool CancelRequested() override { return ++asked_ == stopAt_; }
  int Asked() const { return asked_; }

 private:
  int stopAt_;
  int asked_ = 0;
};

QString Lay(const QString& dir) {
  LibraryBuilder b(0);
  for (int i = 0; i < 12; ++i) {
    const int w = 4 * (i % 4 + 1), h = 3 + i % 5;
    b.Add8(int16_t(w), int16_t(h), int16_t(i), int16_t(-i),
           std::vector<uint8_t>(size_t(w * h), uint8_t(i * 17 + 1)));
  }
  b.AddBytes(QByteArray(500, 's'));
  return b.Write(dir, "lib");
}

// Two pictures and their placements.
QString Pictures(const QString& dir) {
  const QString folder = QDir(dir).filePath("pictures/");
  QDir().mkpath(folder);
  for (int i = 0; i < 3; ++i) {
    QImage picture(6 + i, 4, QImage::Format_RGB32);
    picture.fill(qRgb(30 * i, 90, 200));
    picture.save(folder + QStringLiteral("%1.bmp").arg(i, 6, 10, QLatin1Char('0')));
  }
  return folder;
}

struct LongOperation {
  const char* name;
  std::function<void(TJOV&, const QString& folder, TOperationDelegate*)> run;
};

std::vector<LongOperation> LongOperations() {
  const QStringList files = {"000000.bmp", "000001.bmp", "000002.bmp"};
  return {
      {"insert",
       [](TJOV& j, const QString&, TOperationDelegate* d) {
         InsertRecord(j, 0, 8, 2, 0, 0, std::vector<uint8_t>(16, 9).data(), d);
       }},
      {"delete", [](TJOV& j, const QString&, TOperationDelegate* d) { DeleteRange(j, 1, 4, d); }},
      {"clear", [](TJOV& j, const QString&, TOperationDelegate* d) { ClearRange(j, 2, 9, d); }},
      {"replace",
       [](TJOV& j, const QString&, TOperationDelegate* d) {
         j.ReplaceRecord(1, 16, 9, std::vector<uint8_t>(144, 7).data(), d);
       }},
      {"batch add", [files](TJOV& j, const QString& f,
                            TOperationDelegate* d) { ImportAdd(j, f, files, {}, d); }},
      {"batch insert", [files](TJOV& j, const QString& f,
                               TOperationDelegate* d) { ImportInsert(j, f, files, {}, 2, d); }},
      {"batch replace",
       [files](TJOV& j, const QString& f, TOperationDelegate* d) {
         ImportReplace(j, f, files, {}, 0, 2, d);
       }},
      {"pixels",
       [](TJOV& j, const QString& f, TOperationDelegate* d) { ImportPixels(j, f, 0, 2, d); }},
      {"placements",
       [](TJOV& j, const QString&, TOperationDelegate* d) {
         ImportPlacements(j, QString(), {true, {3, 4}}, 0, 11, d);
       }},
      {"compact", [](TJOV& j, const QString&, TOperationDelegate* d) { CompactLibrary(j, d); }},
      {"create",
       [](TJOV& j, const QString& f, TOperationDelegate* d) {
         TCreateOptions options;
         options.folder = f;
         options.dataPath = j.FileName();
         CreateLibrary(options, d);
       }},
  };
}

QStringList Beside(const QString& dir) {
  return QDir(dir).entryList({"*-journal", "*-new", "*-switch"}, QDir::Files);
}

TEST(Cancel, AStopAtAnyStepLeavesTheOldFilesAndNothingBeside) {
  for (const int64_t floor : {int64_t(1) << 20, int64_t(0)}) {
    const int64_t old = TJovTransaction::SetRewriteFloor(floor);
    for (const LongOperation& op : LongOperations()) {
      SCOPED_TRACE(testing::Message() << op.name << (floor == 0 ? ", new pair" : ", in place"));
      QTemporaryDir dir;
      const QString lib = Lay(dir.path()), folder = Pictures(dir.path());
      const QByteArray data = ReadFileBytes(lib), index = ReadFileBytes(dir.filePath("lib.JOX"));
      int steps;
      {
        // The whole run, to count the steps; then back to the old files.
        TJOV jov;
        ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
        TStopAt never(0);
        op.run(jov, folder, &never);
        steps = never.Asked();
      }
      EXPECT_GT(steps, 1);
      for (int k = 1; k <= steps; ++k) {
        SCOPED_TRACE(testing::Message() << "stop at " << k << " of " << steps);
        WriteFileBytes(lib, data);
        WriteFileBytes(dir.filePath("lib.JOX"), index);
        TJOV jov;
        ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
        TStopAt stop(k);
        EXPECT_THROW(op.run(jov, folder, &stop), ECancelled);
        EXPECT_EQ(ReadFileBytes(lib), data);
        EXPECT_EQ(ReadFileBytes(dir.filePath("lib.JOX")), index);
        EXPECT_EQ(Beside(dir.path()), QStringList());
        ExpectDescribesFiles(jov, lib);
      }
    }
    TJovTransaction::SetRewriteFloor(old);
  }
}

// What a window shows while a worker changes the library in place: every image exactly as
// before, read while the records move; opened again, the library as it now is.  A second
// change before the window has taken up the first is refused.
TEST(OldView, AReaderShowsTheLibraryAsItWasUntilItOpensItAgain) {
  QTemporaryDir dir;
  const QString lib = Lay(dir.path());
  TJOV window;
  const std::vector<std::function<void(TJOV&, TOperationDelegate*)>> changes = {
      [](TJOV& j, TOperationDelegate* d) {
        InsertRecord(j, 0, 8, 2, 0, 0, std::vector<uint8_t>(16, 9).data(), d);
      },
      [](TJOV& j, TOperationDelegate* d) { ClearRange(j, 3, 9, d); },
      [](TJOV& j, TOperationDelegate* d) { DeleteRange(j, 0, 0, d); },
  };
  TProgressFunction slowly(
      [](int64_t, int64_t) { std::this_thread::sleep_for(std::chrono::milliseconds(2)); });
  for (const auto& change : changes) {
    ASSERT_EQ(window.Open(lib), TOpenResult::Opened);
    std::vector<QImage> before;
    for (int i = 0; i < window.ImageCount(); ++i) before.push_back(window.ImageAt(i)->copy());
    TJOV worker;
    ASSERT_EQ(worker.Open(lib), TOpenResult::Opened);
    worker.SetOnChangeBegun(
        [&](std::shared_ptr<const TOldView> view) { window.ShowAsBefore(view); });
    // The window keeps fetching while the worker changes the library, step by step.
    std::atomic<bool> running = true;
    std::atomic<int> mismatches = 0, fetches = 0;
    std::thread painter([&] {
      while (running) {
        for (int i = 0; i < int(before.size()); ++i) {
          if (window.ImageAt(i)->copy() != before[size_t(i)]) ++mismatches;
          ++fetches;
        }
      }
    });
    change(worker, &slowly);
    // Not taken up yet: another change in place is refused, and changes nothing.
    const QByteArray after = ReadFileBytes(lib);
    EXPECT_THROW(ClearRange(worker, 0, 0), EJovError);
    EXPECT_EQ(ReadFileBytes(lib), after);
    running = false;
    painter.join();
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(fetches, 0);
  }
  window.Open(lib);
  TJOV fresh;
  ASSERT_EQ(fresh.Open(lib), TOpenResult::Opened);
  for (int i = 0; i < fresh.ImageCount(); ++i)
    EXPECT_EQ(window.ImageAt(i)->copy(), fresh.ImageAt(i)->copy()) << i;
}

}  // namespace
