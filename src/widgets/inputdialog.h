#pragma once

// TInputDialog: the modal one-line input box of the main window.  It keeps its value
// text between showings: the edit starts with it, OK stores what was typed, Cancel
// leaves it as it was.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TInputDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int mrOk = 1;
  static constexpr int mrCancel = 2;

  explicit TInputDialog(QWidget* parent);

  QString Caption;
  QString Prompt;
  QString Value = QStringLiteral("0");

  // Shows the box modally, centred on its parent.  mrOk or mrCancel (also for the
  // escape key and for closing the box).
  int Execute();

  QLineEdit* Edit() const { return edit_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 private:
  QLabel* prompt_;
  QLineEdit* edit_;
  QPushButton* ok_;
  QPushButton* cancel_;
};
