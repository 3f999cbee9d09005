#pragma once

// The add-one dialog: appends one picture file as the new last image, or inserts it
// before the image the main window shows, with a typed placement.

#include "dialogs/jovdialog.h"
#include "editing/pictureloader.h"
#include "widgets/filedialog.h"

class QRadioButton;

class TFormaddone : public TJovDialog {
  Q_OBJECT

 public:
  TFormaddone(TDialogHost& host, QWidget* parent);

 private:
  void BtnBrowseClick();
  void BtnAddClick();

  QGroupBox* CreatePlacementGroup();

  QLineEdit* EditPic;  // the picture file
  QPushButton* BtnBrowse;
  QRadioButton* Rabtnadd;
  QRadioButton* RabtnInsert;
  QLineEdit* editx;
  QLineEdit* EDITy;
  QPushButton* BtnAdd;
  QProgressBar* ProgressBar1;  // an insert moves the records behind it
  TOpenDialog OpenPictureDialog1;
  TPictureLoader Image1;  // holds the picture being added
};
