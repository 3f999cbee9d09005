#pragma once

// Helpers of the window tests: the six windows made as the program makes them, message
// boxes recorded instead of shown, answers typed into the input box.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "app/jovver3.h"
#include "support/libbuilder.h"
#include "viewer/collapsepanel.h"
#include "viewer/mail.h"
#include "widgets/inputdialog.h"

// The control of a window by its object name, the documented name of the control; the
// tests stop at once when there is none.
template <class W>
W* Child(const QObject* window, const char* name) {
  W* w = window->findChild<W*>(QLatin1String(name));
  if (w == nullptr) {
    std::fprintf(stderr, "no control %s in %s\n", name, window->metaObject()->className());
    std::abort();
  }
  return w;
}

// The controls of a dialog, by their names.
struct Controls {
  const QObject* window = nullptr;
  QLineEdit* Edit(const char* name) const { return Child<QLineEdit>(window, name); }
  QAbstractButton* Button(const char* name) const { return Child<QAbstractButton>(window, name); }
  QGroupBox* Group(const char* name) const { return Child<QGroupBox>(window, name); }
  QLabel* Label(const char* name) const { return Child<QLabel>(window, name); }
  QProgressBar* Bar() const { return Child<QProgressBar>(window, "ProgressBar1"); }
};

struct RecordedMessage {
  QString title;
  QMessageBox::Icon icon;
  QString text;
};

// What the input box showed when it came up.
struct SeenInput {
  bool shown = false;
  QString caption, prompt, value;
};

// Answers the next input box that comes up: types text and presses OK, or Cancel.
inline std::shared_ptr<SeenInput> AnswerInput(const QString& text, bool ok = true) {
  auto seen = std::make_shared<SeenInput>();
  auto* timer = new QTimer;
  timer->setInterval(2);
  QObject::connect(timer, &QTimer::timeout, [timer, seen, text, ok] {
    auto* box = qobject_cast<TInputDialog*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    timer->stop();
    timer->deleteLater();
    seen->shown = true;
    seen->caption = box->windowTitle();
    seen->prompt = box->findChild<QLabel*>()->text();
    seen->value = box->Edit()->text();
    box->Edit()->setText(text);
    (ok ? box->OkButton() : box->CancelButton())->click();
  });
  timer->start();
  return seen;
}

// Calls open, which shows dialog modally, runs action inside it, and closes the dialog
// (as Cancel does) if it is still open.
inline void InsideModal(QDialog* dialog, const std::function<void()>& open,
                        const std::function<void()>& action) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [dialog, timer, action] {
    if (QApplication::activeModalWidget() != dialog) return;
    timer->deleteLater();
    timer->stop();
    action();
    if (dialog->isVisible()) dialog->reject();
  });
  timer->start(2);
  open();
}

class ViewerTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  std::unique_ptr<TFormMain> main;
  std::vector<RecordedMessage> messages;

  void SetUp() override {
    TFormMain::MessageHook = [this](const QString& title, QMessageBox::Icon icon,
                                    const QString& text) {
      messages.push_back({title, icon, text});
    };
    main = CreateMainWindows();
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
  }

  void TearDown() override {
    main.reset();
    TFormMain::MessageHook = nullptr;
    TOpenDialog::ExecuteHook = nullptr;
  }

  // Opens a file through the "..." button, the open dialog answering with path.
  void ChooseFile(const QString& path) {
    TOpenDialog::ExecuteHook = [path](TOpenDialog& d) {
      d.FileName = path;
      return true;
    };
    main->Button2->click();
    TOpenDialog::ExecuteHook = nullptr;
  }

  QString Write(const LibraryBuilder& b, const QString& name = QStringLiteral("lib")) {
    return b.Write(dir.path(), name);
  }
  void Open(const LibraryBuilder& b, const QString& name = QStringLiteral("lib")) {
    ChooseFile(Write(b, name));
    Settle();
  }

  // Lets queued work (the grid following the current image) run.
  static void Settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
  }

  void ExpandGrid() {
    main->GridPanel->SetExpanded(true);
    Settle();
  }

  // The editing dialog of that class, one of the main window's children.
  template <class D>
  D* Dialog() const {
    return main->findChild<D*>();
  }

  QString Index() const { return main->LabelIndex->text(); }
  QString Size() const { return main->LabelSize->text(); }
};

// Runs build/jovtool with arguments; its exit code (-1 when it did not finish), and its
// error output in error when given.
inline int RunJovtool(const QStringList& arguments, QString* error = nullptr) {
  QProcess tool;
  tool.start(QStringLiteral(JOVTOOL_PATH), arguments);
  if (!tool.waitForFinished(60000)) return -1;
  if (error != nullptr) *error = QString::fromLocal8Bit(tool.readAllStandardError());
  return tool.exitCode();
}

// Pixels of one colour index, rows bottom first as stored.
inline std::vector<uint8_t> Solid(int w, int h, uint8_t index) {
  return std::vector<uint8_t>(size_t(w) * size_t(h), index);
}
