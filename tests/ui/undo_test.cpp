// Undo and redo from the window: the keys make the files again byte for byte, the image
// shown stays where it can, the buttons name the next steps, and a history that no longer
// fits the files, or a change too large for it, is said so.

#include <QFile>
#include <QImage>
#include <QSpinBox>

#include "dialogs/del.h"
#include "uitest.h"

namespace {

class UndoTest : public ViewerTest {
 protected:
  QString lib;
  std::vector<QString> questions;
  int answer = 0;

  void SetUp() override {
    ViewerTest::SetUp();
    TFormMain::ChoiceHook = [this](const QString& text, const QStringList&) {
      questions.push_back(text);
      return answer;
    };
  }
  void TearDown() override {
    TFormMain::ChoiceHook = nullptr;
    ViewerTest::TearDown();
  }
  // n images of w x h in colour i + 1, image i placed at (i, -i).
  void OpenImages(int n, int w = 8, int h = 4, const QString& name = QStringLiteral("lib")) {
    LibraryBuilder b(0);
    for (int16_t i = 0; i < n; ++i)
      b.Add8(int16_t(w), int16_t(h), i, int16_t(-i), Solid(w, h, uint8_t(i + 1)));
    ChooseFile(lib = Write(b, name));
    Settle();
  }
  QByteArray LibraryBytes() const {
    QFile data(lib), index(lib.chopped(4) + ".JOX");
    return data.open(QIODevice::ReadOnly) && index.open(QIODevice::ReadOnly)
               ? data.readAll() + index.readAll()
               : QByteArray();
  }
  void SetX(int index) {
    main->FillInfo(index);
    AnswerInput("17");
    main->btnx->click();
  }
  void ImportAt(int index) {
    const QString path = dir.filePath("p.png");
    QImage picture(5, 3, QImage::Format_RGB32);
    picture.fill(Qt::red);
    picture.save(path);
    main->FillInfo(index);
    TOpenDialog::ExecuteHook = [path](TOpenDialog& d) {
      d.FileName = path;
      return true;
    };
    main->btninput->click();
    TOpenDialog::ExecuteHook = nullptr;
  }
  // A key pressed with focus (by default the window itself) having the focus.
  void Key(QKeyCombination key, QWidget* focus = nullptr) {
    if (focus == nullptr) focus = main.get();
    // The offscreen platform leaves the focus with the run box it hid.
    main->windowHandle()->requestActivate();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == main->windowHandle(); }));
    focus->setFocus();
    QTest::keyClick(focus, key.key(), key.keyboardModifiers());
    Settle();
  }
};

// Each change made from the window is undone by Ctrl+Z and made again by Ctrl+Y or
// Ctrl+Shift+Z, the files byte for byte as the change and the undo left them; the image
// shown stays, the last one when it is gone.  A focused text field keeps the keys.
TEST_F(UndoTest, KeysUndoAndRedoEveryKindOfChange) {
  struct Case {
    const char* what;
    std::function<void()> change;
    int shownAfterUndo, showBeforeRedo, shownAfterRedo;
    QKeyCombination redo;
  };
  const std::vector<Case> cases = {
      {"set X of image 2", [&] { SetX(2); }, 2, 2, 2, Qt::CTRL | Qt::Key_Y},
      {"replace image 1", [&] { ImportAt(1); }, 1, 1, 1, Qt::CTRL | Qt::SHIFT | Qt::Key_Z},
      {"delete images 1 to 2",
       [&] {
         main->FillInfo(4);
         auto* d = Dialog<TFormdel>();
         InsideModal(
             d, [this] { main->btndelete->click(); },
             [&] {
               Controls{d}.Edit("editBegin")->setText("1");
               Controls{d}.Edit("EditEnd")->setText("2");
               Controls{d}.Button("BtnDelete")->click();
             });
       },
       2, 4, 2, Qt::CTRL | Qt::Key_Y},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenImages(5);
    EXPECT_FALSE(main->BtnUndo->isEnabled());
    const QByteArray before = LibraryBytes();
    c.change();
    const QByteArray after = LibraryBytes();
    ASSERT_NE(after, before);
    EXPECT_EQ(main->BtnUndo->toolTip(), QStringLiteral("Undo: ") + c.what);
    messages.clear();
    Key(Qt::CTRL | Qt::Key_Z);
    EXPECT_EQ(LibraryBytes(), before);
    EXPECT_EQ(main->CurrentIndex(), c.shownAfterUndo);
    EXPECT_FALSE(main->BtnUndo->isEnabled());
    EXPECT_EQ(main->BtnRedo->toolTip(), QStringLiteral("Redo: ") + c.what);
    main->FillInfo(c.showBeforeRedo);
    Key(c.redo);
    EXPECT_EQ(LibraryBytes(), after);
    EXPECT_EQ(main->CurrentIndex(), c.shownAfterRedo);
    EXPECT_TRUE(main->BtnUndo->isEnabled() && !main->BtnRedo->isEnabled());
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
  }
  const QByteArray changed = LibraryBytes();
  QTest::keyClicks(main->EditLoopFrom, "12");
  Key(Qt::CTRL | Qt::Key_Z, main->EditLoopFrom);
  EXPECT_EQ(main->EditLoopFrom->text(), QString());
  Key(Qt::CTRL | Qt::Key_Y, main->EditLoopFrom);
  EXPECT_EQ(LibraryBytes(), changed);
}

// After another program changed the files the undo is refused with its reason and
// changes nothing; the button then offers it no more.
TEST_F(UndoTest, ARefusedUndoSaysWhyAndChangesNothing) {
  OpenImages(3);
  SetX(1);
  QFile data(lib);
  ASSERT_TRUE(data.open(QIODevice::Append));
  data.write(QByteArray(16, '\x55'));
  data.close();
  const QByteArray elsewhere = LibraryBytes();
  messages.clear();
  main->BtnUndo->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].text.contains("was changed by a program that keeps no history"))
      << messages[0].text.toStdString();
  EXPECT_EQ(LibraryBytes(), elsewhere);
  EXPECT_FALSE(main->BtnUndo->isEnabled());
}

// A change larger than the history's limit asks first: No leaves the files as they were,
// Yes makes the change, which cannot be undone.  The limit holds for every library opened.
TEST_F(UndoTest, AChangeTooLargeForTheHistoryAsksFirst) {
  main->SpinHistoryLimit->setValue(1);
  for (const int no : {1, 0}) {
    OpenImages(2, 1024, 1100, QStringLiteral("big%1").arg(no));
    EXPECT_EQ(main->Jov().HistoryLimit(), int64_t(1) << 20);
    const QByteArray before = LibraryBytes();
    questions.clear();
    answer = no;
    ImportAt(0);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions[0].contains("cannot be undone")) << questions[0].toStdString();
    EXPECT_EQ(LibraryBytes() == before, no == 1);
    EXPECT_FALSE(main->BtnUndo->isEnabled());
  }
}

}  // namespace
