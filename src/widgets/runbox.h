#pragma once

// TRunBox: the box a long run started from the main window itself (Import At, a dropped or
// pasted picture, an animation saved) shows over it: what runs, its progress and rate,
// and "Cancel".  Closing the box asks first, then cancels.

#include <QDialog>
#include <functional>

#include "widgets/workerrun.h"

class QLabel;
class QProgressBar;
class QPushButton;
class TProgressView;

class TRunBox : public QDialog {
  Q_OBJECT

 public:
  explicit TRunBox(QWidget* window);

  // Asked when the box is closed during a run; true stops the run.
  std::function<bool()> AskToStop;

  // Runs body through run (TWorkerRun::Run), the box shown over the window meanwhile,
  // and closes the box.  what: the text the box shows.
  TOutcome Run(TWorkerRun& run, TJOV& window, TRunTarget target, const QString& what,
               const TWorkerRun::Body& body);

  QPushButton* CancelButton() const { return cancel_; }

 protected:
  void reject() override;

 private:
  TWorkerRun* run_ = nullptr;
  QLabel* what_;
  QProgressBar* bar_;
  QLabel* rate_;
  QPushButton* cancel_;
  TProgressView* view_;
};
