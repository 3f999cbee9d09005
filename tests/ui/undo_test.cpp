// Undo and redo from the window: the keys and buttons make the files again byte for byte,
// the image shown stays where it can, the buttons name the next steps, and a history that
// no longer fits the files, or a change too large for it, is said so.

#include <QFile>
#include <QImage>
#include <QSpinBox>

#include "dialogs/del.h"
#include "uitest.h"

namespace {

QByteArray FileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

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
    lib = Write(b, name);
    ChooseFile(lib);
    Settle();
  }
  QByteArray LibraryBytes() const { return FileBytes(lib) + FileBytes(lib.chopped(4) + ".JOX"); }
  void ImportAt(int index) {
    QImage picture(5, 3, QImage::Format_RGB32);
    picture.fill(qRgb(7 / 2, 255 - 7, 7));
    const QString path = dir.filePath("p.png");
    picture.save(path);
    main->FillInfo(index);
    TOpenDialog::ExecuteHook = [path](TOpenDialog& d) {
      d.FileName = path;
      return true;
    };
    main->btninput->click();
    TOpenDialog::ExecuteHook = nullptr;
  }
  void Delete(int begin, int end) {
    auto* d = Dialog<TFormdel>();
    InsideModal(
        d, [this] { main->btndelete->click(); },
        [&] {
          Controls ui{d};
          ui.Edit("editBegin")->setText(QString::number(begin));
          ui.Edit("EditEnd")->setText(QString::number(end));
          ui.Button("BtnDelete")->click();
        });
    Settle();
  }
  // A key pressed in the window, focus (by default the window itself) having the focus.
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers, QWidget* focus = nullptr) {
    if (focus == nullptr) focus = main.get();
    // The offscreen platform leaves the focus with the run box it hid.
    main->windowHandle()->requestActivate();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == main->windowHandle(); }));
    focus->setFocus();
    QTest::keyClick(focus, key, modifiers);
    Settle();
  }
};

// Each change made from the window is undone by Ctrl+Z and made again by Ctrl+Y or
// Ctrl+Shift+Z, the files byte for byte as the change and the undo left them; the image
// shown stays, the last one when it is gone.
TEST_F(UndoTest, KeysUndoAndRedoEveryKindOfChange) {
  struct Case {
    const char* name;
    std::function<void()> change;
    QString what;
    int shownAfterUndo;
    int showBeforeRedo, shownAfterRedo;
    Qt::KeyboardModifiers redoModifiers;
    Qt::Key redoKey;
  };
  const std::vector<Case> cases = {
      {"set X",
       [&] {
         main->FillInfo(2);
         AnswerInput("17");
         main->btnx->click();
       },
       "set X of image 2", 2, 2, 2, Qt::ControlModifier, Qt::Key_Y},
      {"Import At", [&] { ImportAt(1); }, "replace image 1", 1, 1, 1,
       Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Z},
      {"delete range",
       [&] {
         main->FillInfo(4);
         Delete(1, 2);
       },
       "delete images 1 to 2", 2, 4, 2, Qt::ControlModifier, Qt::Key_Y},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenImages(5);
    EXPECT_FALSE(main->BtnUndo->isEnabled());
    const QByteArray before = LibraryBytes();
    c.change();
    const QByteArray after = LibraryBytes();
    ASSERT_NE(after, before);
    EXPECT_TRUE(main->BtnUndo->isEnabled());
    EXPECT_EQ(main->BtnUndo->toolTip(), "Undo: " + c.what);
    EXPECT_FALSE(main->BtnRedo->isEnabled());

    messages.clear();
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(LibraryBytes(), before);
    EXPECT_EQ(main->Jov().ImageCount(), 5);
    EXPECT_EQ(main->CurrentIndex(), c.shownAfterUndo);
    EXPECT_FALSE(main->BtnUndo->isEnabled());
    EXPECT_EQ(main->BtnRedo->toolTip(), "Redo: " + c.what);

    main->FillInfo(c.showBeforeRedo);
    Key(c.redoKey, c.redoModifiers);
    EXPECT_EQ(LibraryBytes(), after);
    EXPECT_EQ(main->CurrentIndex(), c.shownAfterRedo);
    EXPECT_EQ(main->BtnUndo->toolTip(), "Undo: " + c.what);
    EXPECT_FALSE(main->BtnRedo->isEnabled());
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
  }
}

// A text field with the focus undoes its own text; the library stays as it is.
TEST_F(UndoTest, AFocusedTextFieldKeepsTheUndoKeys) {
  OpenImages(3);
  AnswerInput("9");
  main->btnx->click();
  const QByteArray changed = LibraryBytes();
  QTest::keyClicks(main->EditLoopFrom, "12");
  Key(Qt::Key_Z, Qt::ControlModifier, main->EditLoopFrom);
  EXPECT_EQ(main->EditLoopFrom->text(), QString());
  EXPECT_EQ(LibraryBytes(), changed);
  Key(Qt::Key_Y, Qt::ControlModifier, main->EditLoopFrom);
  EXPECT_EQ(LibraryBytes(), changed);
  EXPECT_TRUE(main->BtnUndo->isEnabled());
}

// After another program changed the files the undo is refused with its reason and
// changes nothing; the button then offers it no more.
TEST_F(UndoTest, ARefusedUndoSaysWhyAndChangesNothing) {
  OpenImages(3);
  AnswerInput("9");
  main->btnx->click();
  {
    QFile data(lib);
    ASSERT_TRUE(data.open(QIODevice::Append));
    data.write(QByteArray(16, '\x55'));
  }
  const QByteArray elsewhere = LibraryBytes();
  messages.clear();
  ASSERT_TRUE(main->BtnUndo->isEnabled());
  main->BtnUndo->click();
  Settle();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].icon, QMessageBox::Warning);
  EXPECT_TRUE(messages[0].text.contains("was changed by a program that keeps no history"))
      << messages[0].text.toStdString();
  EXPECT_EQ(LibraryBytes(), elsewhere);
  EXPECT_FALSE(main->BtnUndo->isEnabled());
}

// A change larger than the history's limit asks first, from the window's own runs and
// the dialogs' alike: No leaves the files as they were, Yes makes the change, which
// cannot be undone.  The limit holds for the next library opened; 0 keeps no history and
// asks nothing.
TEST_F(UndoTest, AChangeTooLargeForTheHistoryAsksFirst) {
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"Import At", [&] { ImportAt(0); }}, {"delete", [&] { Delete(0, 0); }}};
  main->SpinHistoryLimit->setValue(1);
  int libraries = 0;
  for (const auto& [name, change] : changes) {
    SCOPED_TRACE(name);
    for (const int no : {1, 0}) {
      OpenImages(2, 1024, 1100, QStringLiteral("big%1").arg(libraries++));
      EXPECT_EQ(main->Jov().HistoryLimit(), int64_t(1) << 20);
      const QByteArray before = LibraryBytes();
      questions.clear();
      answer = no;
      change();
      ASSERT_EQ(questions.size(), 1u);
      EXPECT_TRUE(questions[0].contains("cannot be undone")) << questions[0].toStdString();
      EXPECT_EQ(LibraryBytes() == before, no == 1);
      EXPECT_FALSE(main->BtnUndo->isEnabled());
    }
  }
  main->SpinHistoryLimit->setValue(0);
  OpenImages(3);
  questions.clear();
  ImportAt(1);
  EXPECT_TRUE(questions.empty());
  EXPECT_FALSE(main->BtnUndo->isEnabled());
}

}  // namespace
