#pragma once

// The sequence-export dialog: writes a range of images as an exchange folder.

#include "dialogs/jovdialog.h"
#include "widgets/filedialog.h"

class TFormout : public TJovDialog {
  Q_OBJECT

 public:
  TFormout(TDialogHost& host, QWidget* parent);

 protected:
  // "Export all" clears the folder and asks for every image.
  void Prepare() override;

 private:
  void BtnBrowseClick();
  void BtnExportClick();

  QLineEdit* EditPicPath;  // the target folder
  QPushButton* BtnBrowse;
  QLineEdit* editBegin;
  QLineEdit* EditEnd;
  QPushButton* BtnExport;
  QProgressBar* ProgressBar1;
  TFolderPicker FolderPicker;
};
