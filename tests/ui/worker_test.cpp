// Long runs on a worker thread: the window paints the library as it was while a change
// goes on, Cancel rolls a change back with the files byte for byte as before, and closing
// a window during a run asks first.

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QProgressBar>
#include <QRadioButton>
#include <chrono>
#include <thread>

#include "dialogs/addone.h"
#include "dialogs/addpic.h"
#include "dialogs/del.h"
#include "library/transaction.h"
#include "support/libbuilder.h"
#include "uitest.h"
#include "viewer/ffpbox.h"
#include "widgets/workerrun.h"

namespace {

class WorkerTest : public ViewerTest {
 protected:
  QString lib;
  std::vector<QString> questions;
  int answer = 0;  // the button the questions get
  int libraries_ = 0;
  QString index_;

  void SetUp() override {
    ViewerTest::SetUp();
    TFormMain::ChoiceHook = [this](const QString& text, const QStringList&) {
      questions.push_back(text);
      return answer;
    };
    // Every step of a run takes a while.
    TWorkerRun::StepHook = [] { std::this_thread::sleep_for(std::chrono::milliseconds(40)); };
  }
  void TearDown() override {
    TWorkerRun::StepHook = nullptr;
    TFormMain::ChoiceHook = nullptr;
    ViewerTest::TearDown();
  }

  // n images of 96 x 96 (about 9 KiB each), each its own pattern, image i at (i, -i).
  void OpenLibrary(int n) {
    LibraryBuilder b(0);
    for (int i = 0; i < n; ++i) {
      std::vector<uint8_t> pixels(96 * 96);
      for (size_t p = 0; p < pixels.size(); ++p)
        pixels[p] = uint8_t(1 + (p / 96 + p % 96 + i) % 200);
      b.Add8(96, 96, int16_t(i), int16_t(-i), pixels);
    }
    lib = Write(b, QStringLiteral("lib%1").arg(libraries_));
    index_ = dir.filePath(QStringLiteral("lib%1.JOX").arg(libraries_++));
    ChooseFile(lib);
    Settle();
  }
  QByteArray LibraryBytes() const { return ReadFileBytes(lib) + ReadFileBytes(index_); }
  QStringList Beside() const {
    return QDir(dir.path()).entryList({"*-journal", "*-new", "*-switch"}, QDir::Files);
  }
  QString Picture() {
    QImage picture(12, 5, QImage::Format_RGB32);
    picture.fill(qRgb(7 / 2, 255 - 7, 7));
    const QString path = dir.filePath("p.png");
    picture.save(path);
    return path;
  }
  // Presses "Cancel" of d once its run is under way.
  static void CancelWhenRunning(TJovDialog* d) {
    QTimer* poke = new QTimer(d);
    QObject::connect(poke, &QTimer::timeout, [d, poke] {
      if (!d->Running()) return;
      Child<QAbstractButton>(d, "BtnCancel")->click();
      poke->deleteLater();
    });
    poke->start(5);
  }
  // Starts the add-one dialog's insert before the image shown; during calls during the run.
  void InsertDuringRun(const std::function<void(TJovDialog*)>& during) {
    auto* d = Dialog<TFormaddone>();
    Controls ui{d};
    InsideModal(
        d, [this] { main->btnAdd->click(); },
        [&] {
          ui.Edit("EditPic")->setText(Picture());
          Child<QRadioButton>(d, "RabtnInsert")->setChecked(true);
          QTimer poke;
          QObject::connect(&poke, &QTimer::timeout, [&] {
            if (d->Running()) during(d);
          });
          poke.start(5);
          ui.Button("BtnAdd")->click();
        });
    Settle();
  }
};

// The preview and every thumbnail painted while an insert moves the records are those of
// the library as it was, whether the change goes in place or through a new pair; once it
// commits, the window shows the new image first.
TEST_F(WorkerTest, TheWindowPaintsTheOldLibraryWhileAnInsertRuns) {
  for (const int64_t floor : {int64_t(1) << 40, int64_t(0)}) {
    SCOPED_TRACE(floor == 0 ? "new pair" : "in place");
    const int64_t old = TJovTransaction::SetRewriteFloor(floor);
    OpenLibrary(400);
    ExpandGrid();
    const std::vector<int> shown = {0, 1, 57, 200, 399};
    std::vector<QImage> previews, grids;
    for (int i : shown) {
      main->FillInfo(i);
      previews.push_back(main->PaintBox1->Compose());
      grids.push_back(main->DrawGrid1->viewport()->grab().toImage());
    }
    int paints = 0, mismatches = 0;
    main->FillInfo(0);  // the insert goes before the image shown
    InsertDuringRun([&](TJovDialog*) {
      const size_t k = size_t(paints++) % shown.size();
      main->FillInfo(shown[k]);
      mismatches += main->PaintBox1->Compose() != previews[k];
      mismatches += main->DrawGrid1->viewport()->grab().toImage() != grids[k];
    });
    EXPECT_GT(paints, 10);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(main->Jov().ImageCount(), 401);
    main->FillInfo(1);
    EXPECT_EQ(main->PaintBox1->Compose(), previews[0]) << "the old first image is second";
    TJovTransaction::SetRewriteFloor(old);
  }
}

// Cancel during a run of every dialog that changes the library: the files are as before,
// nothing is left beside them, and the box says the run was cancelled after the failure
// text of the command.
TEST_F(WorkerTest, CancelLeavesTheFilesAsTheyWereAndSaysSo) {
  struct Case {
    const char* name;
    std::function<void(TJovDialog*&)> start;  // opens the dialog and presses its run button
    QString text;
  };
  const QString in = dir.filePath("in/");
  QDir().mkpath(in);
  for (int i = 0; i < 3; ++i) QFile::copy(Picture(), in + QStringLiteral("%1.png").arg(i));
  const std::vector<Case> cases = {
      {"delete",
       [&](TJovDialog*& d) {
         d = Dialog<TFormdel>();
         InsideModal(
             d, [this] { main->btndelete->click(); },
             [&] {
               Controls ui{d};
               ui.Edit("editBegin")->setText("1");
               ui.Edit("EditEnd")->setText("2");
               CancelWhenRunning(d);
               ui.Button("BtnDelete")->click();
             });
       },
       QStringLiteral("删除失败\n已取消")},
      {"batch insert",
       [&](TJovDialog*& d) {
         d = Dialog<TFormadd>();
         InsideModal(
             d, [this] { main->btnallinput->click(); },
             [&] {
               Controls ui{d};
               ui.Button("RabtnInsert")->click();
               ui.Edit("editBegin")->setText("0");
               ui.Edit("EditPicPath")->setText(in);
               Child<QComboBox>(d, "ComboFormat")->setCurrentIndex(1);
               CancelWhenRunning(d);
               ui.Button("BtnImport")->click();
             });
       },
       QStringLiteral("批量导入失败\n已取消")},
      {"insert one",
       [&](TJovDialog*& d) {
         d = Dialog<TFormaddone>();
         InsideModal(
             d, [this] { main->btnAdd->click(); },
             [&] {
               Controls ui{d};
               ui.Edit("EditPic")->setText(Picture());
               ui.Button("RabtnInsert")->click();
               CancelWhenRunning(d);
               ui.Button("BtnAdd")->click();
             });
       },
       QStringLiteral("加入图片失败！\n已取消")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenLibrary(300);
    const QByteArray before = LibraryBytes();
    messages.clear();
    TJovDialog* d = nullptr;
    c.start(d);
    Settle();
    EXPECT_EQ(LibraryBytes(), before);
    EXPECT_EQ(Beside(), QStringList());
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().text, c.text);
    EXPECT_EQ(main->Jov().ImageCount(), 300);
  }
}

// Closing the dialog during a run asks; "No" lets the run go on to its end, "Yes" stops
// it and the dialog closes once the change has rolled back.  Closing the main window
// asks the same way.
TEST_F(WorkerTest, ClosingDuringARunAsksFirst) {
  for (const int no : {1, 0}) {
    OpenLibrary(300);
    const QByteArray before = LibraryBytes();
    questions.clear();
    answer = no;
    bool asked = false;
    InsertDuringRun([&](TJovDialog* d) {
      if (asked) return;
      asked = true;
      d->close();
    });
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], kStopRunQuestion);
    EXPECT_FALSE(Dialog<TFormaddone>()->isVisible());
    EXPECT_EQ(main->Jov().ImageCount(), no == 1 ? 301 : 300);
    if (no == 0) {
      EXPECT_EQ(LibraryBytes(), before);
    }
  }
  const QByteArray before = LibraryBytes();
  questions.clear();
  bool closed = false;
  InsertDuringRun([&](TJovDialog*) {
    if (!closed) closed = main->close();
  });
  EXPECT_EQ(questions, std::vector<QString>{kStopRunQuestion});
  EXPECT_TRUE(closed);
  EXPECT_FALSE(main->isVisible());
  EXPECT_EQ(LibraryBytes(), before);
  EXPECT_EQ(Beside(), QStringList());
}

}  // namespace
