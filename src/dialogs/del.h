#pragma once

// The delete dialog: removes a range of images, or blanks them keeping their places.

#include "dialogs/jovdialog.h"

class QRadioButton;

class TFormdel : public TJovDialog {
  Q_OBJECT

 public:
  TFormdel(TDialogHost& host, QWidget* parent);

 protected:
  // A range of thumbnails goes into the range fields.
  void Fill(const TDialogFill& fill) override;

 private:
  void BtnDeleteClick();

  QLineEdit* editBegin;
  QLineEdit* EditEnd;
  QRadioButton* RabtnDel;
  QRadioButton* RabtnNull;
  QProgressBar* ProgressBar1;
  QPushButton* BtnDelete;
};
