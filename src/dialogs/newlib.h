#pragma once

// The create dialog: makes a new library from a folder of pictures.

#include "dialogs/jovdialog.h"
#include "widgets/filedialog.h"

class QGridLayout;
class QRadioButton;

class TFormnew : public TJovDialog {
  Q_OBJECT

 public:
  TFormnew(TDialogHost& host, QWidget* parent);

 private:
  void BtnPicPathClick();
  void BtnFileNameClick();
  void BtnCreateClick();

  QGridLayout* CreateFields();
  QHBoxLayout* CreateOptionGroups();

  QLineEdit* EditPicPath;    // the folder of the pictures
  QPushButton* BtnPicPath;   // "..."
  QComboBox* ComboFormat;    // the kind of picture file the folder gives
  QLineEdit* EditFileName;   // the new data file
  QPushButton* BtnFileName;  // "..."
  QRadioButton* RbFromFile;  // "From File": the folder's placement files
  QRadioButton* RbUseNew;    // "Use New:": the pair in editxy for every image
  QLineEdit* editxy;
  QRadioButton* RbBoardSys;  // "System?": the template palette
  QRadioButton* RbBoardBmp;  // "Bmp??": the palette of the folder's first picture
  QPushButton* BtnCreate;
  QProgressBar* ProgressBar1;
  TFolderPicker FolderPicker;
  TSaveDialog SaveDialog1;
};
