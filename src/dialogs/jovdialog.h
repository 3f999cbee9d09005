#pragma once

// The common ground of the five editing dialogs: created once at start-up as children
// of the main window, shown modally and centred on it, working on its library.

#include <QDialog>
#include <initializer_list>
#include <utility>
#include <vector>

class QGroupBox;
class QLabel;
class QLineEdit;
class QWidget;
class TFormMain;

// A group of two numbered fields, begin and end, each with its label, both "0" at first.
QGroupBox* MakeRangeGroup(const QString& title, const QString& beginLabel, const QString& endLabel,
                          QWidget* parent, QLineEdit*& begin, QLineEdit*& end);

class TJovDialog : public QDialog {
  Q_OBJECT

 public:
  // caption: the dialog's own caption; title: the text of its title bar.
  TJovDialog(TFormMain& main, const QString& caption, const QString& title);

  const QString& Caption() const { return caption_; }
  // Shows the dialog modally, centred on the main window.
  int Execute();
  // True while a run of the dialog is under way.  Runs pump window messages, so that
  // windows repaint and progress bars move: nothing may start a second one meanwhile.
  bool Running() const { return running_; }

 protected:
  TFormMain& FormMain;

  // Marks a run under way for its lifetime, however it ends: the controls given are
  // disabled, and a close asked for meanwhile waits for the end.
  class TRun {
   public:
    TRun(TJovDialog& dialog, std::initializer_list<QWidget*> controls);
    ~TRun();
    TRun(const TRun&) = delete;
    TRun& operator=(const TRun&) = delete;

   private:
    TJovDialog& dialog_;
    std::vector<QWidget*> controls_;
  };
  // Whether a close was asked for during the run that just ended; forgets it.
  bool TakeCloseRequest() { return std::exchange(closeRequested_, false); }
  // Closes at once, or, during a run, when the run has ended.
  void reject() override;

 private:
  bool running_ = false;
  bool closeRequested_ = false;
  QString caption_;
  QLabel* heading_;
};
