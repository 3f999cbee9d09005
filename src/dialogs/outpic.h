#pragma once

// The sequence-export dialog: writes a range of images as an exchange folder.

#include "dialogs/jovdialog.h"
#include "widgets/filedialog.h"

class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

class TFormout : public TJovDialog {
  Q_OBJECT

 public:
  explicit TFormout(TFormMain& main);

  QLineEdit* EditPicPath;  // the target folder; read-only, filled by the folder picker
  QPushButton* BtnBrowse;  // "..."
  QGroupBox* GroupRange;
  QLineEdit* editBegin;
  QLineEdit* EditEnd;
  QPushButton* BtnExport;
  QPushButton* BtnCancel;
  QProgressBar* ProgressBar1;  // shown only while a run is going on
  TFolderPicker FolderPicker;

  void BtnBrowseClick();
  void BtnExportClick();
  void BtnCancelClick();


 public slots:

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void RefuseIndex(QLineEdit* field);

};
