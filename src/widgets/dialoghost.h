#pragma once

// What the editing dialogs know of the main window: its one library and current image,
// its two message boxes, and the two ways it follows a change of the library.  The
// dialogs see the window only through this.

#include <QString>

class TJOV;
struct TOutcome;
struct TRefusal;

// The box a text goes to: "消息！" with the information icon, or "错误！" with the warning
// icon.
enum class TBox { Information, Error };

// Asked before a window closes while a run goes on.
inline const QString kStopRunQuestion = QStringLiteral("操作正在进行，要取消吗？文件将保持原样。");

class TDialogHost {
 public:
  virtual TJOV& Jov() = 0;
  virtual int CurrentIndex() const = 0;

  virtual void showMessage(const QString& text) = 0;
  virtual void showErrMessage(const QString& text) = 0;
  // A question with "Yes" and "No"; true for "Yes".
  virtual bool Ask(const QString& text) = 0;

  // After a run changed the open library (or was stopped or failed while changing it): the
  // window opens it again, which ends its view of the library as it was, and shows it as
  // it now is.
  virtual void ShowLibraryChanged() = 0;
  // After a run wrote the library at dataPath anew: the window opens it again when it is
  // the library it shows.
  virtual void ShowLibraryReplaced(const QString& dataPath) = 0;

  // How many changes of other programs the window has taken up, after a look at the files
  // now: a dialog whose run finds a different number than at its showing was set up on
  // the library as it was.
  virtual int ChangesByOthers() = 0;

  void Show(TBox box, const QString& text);
  // A request that cannot run: its message, or what it is about when it has none.
  void Refuse(const TRefusal& refusal, TBox box = TBox::Error);
  // How a run ended: the success text in the information box; otherwise the failure
  // text with the reason on its own line, in failureBox.
  void Report(const TOutcome& outcome, TBox failureBox = TBox::Error);

 protected:
  ~TDialogHost() = default;
};
