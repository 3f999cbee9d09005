// The window open on a library that jovtool, another process, changes meanwhile: it
// follows each change, keeping what the user chose, and says so; its own changes it does
// not report; a dialog set up before such a change refuses to run.

#include <sys/stat.h>

#include <QCheckBox>
#include <QDir>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>

#include "dialogs/del.h"
#include "editing/messages.h"
#include "support/idpictures.h"
#include "uitest.h"

namespace {

constexpr int kWait = 10000;  // ms: far more than the window needs, for a loaded machine

class FollowTest : public ViewerTest {
 protected:
  QString lib;
  int base = 8;
  // A memory-backed folder where there is one: it cannot shift blocks, so that an insert
  // at 0 in front of large records goes through a new pair there.
  QTemporaryDir unshifting{QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm/follow-XXXXXX")
                                                     : QDir::temp().filePath("follow-XXXXXX")};

  void OpenIds(int n) {
    LibraryBuilder b(0);
    for (int id = 1; id <= n; ++id) AddIdImage(b, id, base);
    lib = base == 8 ? Write(b) : b.Write(unshifting.path(), QStringLiteral("lib"));
    ChooseFile(lib);
    Settle();
  }
  QString Picture(int id) {
    const QString path = dir.filePath(QStringLiteral("p%1.bmp").arg(id));
    WriteFileBytes(path, IdBitmap(id, base));
    return path;
  }
  void Tool(const QStringList& arguments) {
    QString error;
    ASSERT_EQ(RunJovtool(arguments, &error), 0) << error.toStdString();
  }
  int IdAt(int i) { return IdOf(*main->Jov().ImageAt(i), base); }
  int Count() { return main->Jov().ImageCount(); }
  QString Status() { return main->statusBar()->currentMessage(); }
  static uint64_t Inode(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_ino;
  }
};

struct Step {
  const char* what;
  QStringList args;  // after LIB; "PIC" stands for the picture of id 100 + step
  int count, first, last;
  QString index;  // the index label: the image shown kept, or clamped
};

TEST_F(FollowTest, AppendsInsertsAndDeletesOfAnotherProgramAreFollowed) {
  const std::vector<Step> steps = {
      {"append", {"add", "LIB", "PIC"}, 25, 1, 100, "5/24"},
      {"insert at 0", {"add", "LIB", "PIC", "--insert-at", "0"}, 26, 101, 100, "5/25"},
      {"delete the first", {"delete", "LIB", "0", "0"}, 25, 1, 100, "5/24"},
      {"delete all but three", {"delete", "LIB", "3", "24"}, 3, 1, 3, "2/2"},
  };
  // Small records change in place; large ones behind an insert at 0 go through a new pair.
  for (const int size : {8, 224}) {
    SCOPED_TRACE(size);
    base = size;
    OpenIds(24);
    main->rb200->click();
    main->checkboxTransparent->setChecked(true);
    ExpandGrid();
    for (int i = 0; i < 5; ++i) main->btndown->click();
    // Scrolled away from the image shown, which a reload would scroll to.
    QScrollBar* scroll = main->DrawGrid1->verticalScrollBar();
    scroll->setValue(scroll->maximum());
    const int scrolled = scroll->value();
    ASSERT_GT(scrolled, 0);
    for (size_t k = 0; k < steps.size(); ++k) {
      const Step& s = steps[k];
      SCOPED_TRACE(s.what);
      main->statusBar()->clearMessage();
      QStringList args = s.args;
      args.replaceInStrings(QStringLiteral("LIB"), lib);
      args.replaceInStrings(QStringLiteral("PIC"), Picture(100 + int(k)));
      const uint64_t inode = Inode(lib);
      Tool(args);
      if (size == 224 && k == 1) {
        EXPECT_NE(Inode(lib), inode) << "no new pair";
      }
      QTRY_COMPARE_WITH_TIMEOUT(Count(), s.count, kWait);
      QTRY_COMPARE_WITH_TIMEOUT(Status(), msg::kChangedByAnotherProgram, kWait);
      EXPECT_EQ(IdAt(0), s.first);
      EXPECT_EQ(IdAt(s.count - 1), s.last);
      EXPECT_EQ(Index(), s.index);
      EXPECT_TRUE(main->rb200->isChecked());
      EXPECT_TRUE(main->checkboxTransparent->isChecked());
      if (s.count > 20) {
        EXPECT_EQ(scroll->value(), scrolled);
      }
    }
    EXPECT_TRUE(messages.empty());
  }
}

TEST_F(FollowTest, ChangesOfTheWindowItselfAreNotReportedAsAnotherProgramsChange) {
  OpenIds(8);
  auto answered = AnswerInput(QStringLiteral("7"));
  main->btnx->click();
  ASSERT_TRUE(answered->shown);
  InsideModal(
      Dialog<TFormdel>(), [&] { main->btndelete->click(); },
      [&] {
        Child<QLineEdit>(Dialog<TFormdel>(), "editBegin")->setText(QStringLiteral("6"));
        Child<QLineEdit>(Dialog<TFormdel>(), "EditEnd")->setText(QStringLiteral("7"));
        Child<QPushButton>(Dialog<TFormdel>(), "BtnDelete")->click();
      });
  Settle();
  ASSERT_EQ(Count(), 6);
  main->FollowOtherPrograms();
  EXPECT_EQ(main->ChangesByOthers(), 0);
  EXPECT_TRUE(Status().isEmpty());
  // A change of another program after them is still seen.
  Tool({"set-placement", lib, "0", "3", "4"});
  main->FollowOtherPrograms();
  EXPECT_EQ(main->ChangesByOthers(), 1);
  EXPECT_EQ(Status(), msg::kChangedByAnotherProgram);
}

TEST_F(FollowTest, ADialogSetUpBeforeAnotherProgramsChangeRefusesToRun) {
  OpenIds(8);
  auto* del = Dialog<TFormdel>();
  auto runDelete = [&] {
    InsideModal(
        del, [&] { main->btndelete->click(); },
        [&] {
          Child<QLineEdit>(del, "editBegin")->setText(QStringLiteral("0"));
          Child<QLineEdit>(del, "EditEnd")->setText(QStringLiteral("0"));
          Tool({"add", lib, Picture(50)});
          Child<QPushButton>(del, "BtnDelete")->click();
        });
    Settle();
  };
  runDelete();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, msg::kChangedWhileDialogOpen);
  EXPECT_EQ(Count(), 9) << "the delete ran on a library that had changed";
  EXPECT_EQ(IdAt(0), 1);
  // Set up on the library as it is, it runs.
  messages.clear();
  InsideModal(
      del, [&] { main->btndelete->click(); },
      [&] { Child<QPushButton>(del, "BtnDelete")->click(); });
  Settle();
  EXPECT_EQ(Count(), 8);
  EXPECT_EQ(IdAt(0), 2);
}

}  // namespace
