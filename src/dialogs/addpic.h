#pragma once

// The batch-import dialog: brings a folder of pictures, or of placement files, into the
// library: whole images appended, inserted or written over a range (All), pixels only
// (Pic) or placements only (X/Y).

#include "dialogs/jovdialog.h"
#include "widgets/filedialog.h"

class QLabel;
class QRadioButton;

class TFormadd : public TJovDialog {
  Q_OBJECT

 public:
  TFormadd(TDialogHost& host, QWidget* parent);

 protected:
  // "Import All" clears the folder and puts the last image into End.
  void Prepare() override;
  // A range of thumbnails goes into Begin and End; pictures dropped on the grid give the
  // folder, its kind of file and where they go.
  void Fill(const TDialogFill& fill) override;

 private:
  void RabtnInsertClick();
  void RabtnPicClick();
  void BtnBrowseClick();
  void BtnImportClick();

  QHBoxLayout* CreateModeGroups();
  QGroupBox* CreatePlacementGroup();
  TBatchImportRequest Request() const;

  QWidget* Controls;  // everything but the progress bar: disabled while a run goes on
  QLabel* Label1;
  QLineEdit* EditPicPath;
  QPushButton* BtnBrowse;
  QComboBox* ComboFormat;  // the kind of picture file the folder gives
  QRadioButton* RabtnAll;
  QRadioButton* RabtnPic;
  QRadioButton* Rabtnxy;
  QRadioButton* RabtnAdd;
  QRadioButton* RabtnInsert;
  QRadioButton* RabtnReplace;
  QGroupBox* GroupRange;  // "Begin/End"
  QLineEdit* editBegin;
  QLineEdit* EditEnd;
  QGroupBox* GroupBoxxy;  // "Placement Uses"
  QRadioButton* RabtnFile;
  QRadioButton* RabtnNewLike;
  QLineEdit* editxy;
  QProgressBar* ProgressBar1;
  QPushButton* BtnImport;
  TFolderPicker FolderPicker;
};
