#pragma once

// The delete dialog: removes a range of images, or blanks them keeping their places.

#include "dialogs/jovdialog.h"

class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

class TFormdel : public TJovDialog {
  Q_OBJECT

 public:
  explicit TFormdel(TFormMain& main);

  QGroupBox* GroupSequence;
  QLineEdit* editBegin;
  QLineEdit* EditEnd;
  QGroupBox* GroupMode;
  QRadioButton* RabtnDel;
  QRadioButton* RabtnNull;
  QProgressBar* ProgressBar1;  // the clear mode's progress, shown while it runs
  QPushButton* BtnDelete;
  QPushButton* BtnCancel;

  void BtnDeleteClick();
  void BtnCancelClick();


 public slots:

 private:
  void RefuseIndex(QLineEdit* field);
  bool Run(int s, int e);

};
