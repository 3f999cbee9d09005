#pragma once

// The common ground of the five editing dialogs: created once at start-up as children
// of the main window, shown modally and centred on it, working on its library.

#include <QDialog>

class QLabel;
class TFormMain;

class TJovDialog : public QDialog {
  Q_OBJECT

 public:
  // caption: the dialog's own caption; title: the text of its title bar.
  TJovDialog(TFormMain& main, const QString& caption, const QString& title);

  const QString& Caption() const { return caption_; }
  // Shows the dialog modally, centred on the main window.
  int Execute();

 protected:
  TFormMain& FormMain;

 private:
  QString caption_;
  QLabel* heading_;
};
