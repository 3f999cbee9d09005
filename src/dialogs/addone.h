#pragma once

// The add-one dialog: appends one picture file as the new last image, or inserts it
// before the image the main window shows, with a typed placement.

#include "dialogs/jovdialog.h"
#include "editing/pictureloader.h"
#include "widgets/filedialog.h"

class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TFormaddone : public TJovDialog {
  Q_OBJECT

 public:
  explicit TFormaddone(TFormMain& main);

  QLineEdit* EditPic;      // the picture file; read-only, filled by the picture dialog
  QPushButton* BtnBrowse;  // "..."
  QRadioButton* Rabtnadd;
  QRadioButton* RabtnInsert;
  QGroupBox* GroupPlacement;
  QLineEdit* editx;
  QLineEdit* EDITy;
  QPushButton* BtnAdd;
  QPushButton* BtnCancel;
  TOpenDialog OpenPictureDialog1;
  TPictureLoader Image1;  // holds the picture being added

  void BtnBrowseClick();
  void BtnAddClick();
  void BtnCancelClick();


 public slots:

 private:
  void Run();

};
