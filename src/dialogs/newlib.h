#pragma once

// The create dialog: makes a new library from a folder of bitmaps.

#include "dialogs/jovdialog.h"
#include "widgets/filedialog.h"

class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

class TFormnew : public TJovDialog {
  Q_OBJECT

 public:
  explicit TFormnew(TFormMain& main);

  QLineEdit* EditPicPath;    // the folder of the bitmaps; read-only, set by its "..."
  QPushButton* BtnPicPath;   // "..."
  QLineEdit* EditFileName;   // the new data file; read-only, set by its "..."
  QPushButton* BtnFileName;  // "..."
  QGroupBox* GroupPlacement;
  QRadioButton* RbFromFile;  // "From File": the folder's placement files
  QRadioButton* RbUseNew;    // "Use New:": the pair in editxy for every image
  QLineEdit* editxy;
  QGroupBox* GroupImages;
  QRadioButton* RbBoardSys;  // "System?": the template palette
  QRadioButton* RbBoardBmp;  // "Bmp??": the palette of the folder's first bitmap
  QPushButton* BtnCreate;
  QPushButton* BtnCancel;
  QProgressBar* ProgressBar1;  // shown only while a run is going on
  TFolderPicker FolderPicker;
  TSaveDialog SaveDialog1;

  void BtnPicPathClick();
  void BtnFileNameClick();
  void BtnCreateClick();
  void BtnCancelClick();


 public slots:

 private:

};
