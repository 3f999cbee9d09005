#pragma once

// Start-up of the desktop program: the application object, the windows created once,
// the message loop.

#include <QApplication>
#include <memory>

class TFormMain;

// The application title the desktop shows for the program as a whole.
inline constexpr char16_t kApplicationTitle[] = u"Jov编辑器 V4.0";

// The application object.  An error that escapes an event handler despite the guards
// is shown in the error box here and the loop goes on.
class TJovApplication : public QApplication {
 public:
  TJovApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// The fonts and look of every window: a Song-style face 13 pixels high, falling back to
// an installed CJK face so that the Chinese texts show as glyphs.
void ApplyViewerLook(QApplication& app);

// Creates the main window and then the five dialogs, each once, in the start-up order,
// and hands the dialogs to the window.  The dialogs belong to the main window.
std::unique_ptr<TFormMain> CreateMainWindows();

int RunViewer(int argc, char** argv);
