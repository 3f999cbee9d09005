#pragma once

// The sequence-export dialog: writes a range of images as an exchange folder, or, to show
// them to people without the viewer, as a contact sheet (PNG) or an animation (GIF).

#include "dialogs/jovdialog.h"
#include "widgets/filedialog.h"

class QCheckBox;
class QSpinBox;

class TFormout : public TJovDialog {
  Q_OBJECT

 public:
  TFormout(TDialogHost& host, QWidget* parent);

 protected:
  // "Export all" clears the folder and asks for every image.
  void Prepare() override;
  // A range of thumbnails goes into the range fields.
  void Fill(const TDialogFill& fill) override;

 private:
  void BtnBrowseClick();
  void BtnFileClick();
  void KindClick();
  void BtnExportClick();
  void ExportFolder();
  void SharePictures();
  void Finish(const TOutcome& outcome);

  QGroupBox* CreateKindGroup();
  QHBoxLayout* CreateShareOptions();

  QLineEdit* EditPicPath;  // the target folder
  QPushButton* BtnBrowse;
  QRadioButton* RabtnFolder;     // "Exchange folder"
  QRadioButton* RabtnSheet;      // "Sheet (PNG)"
  QRadioButton* RabtnAnimation;  // "Animation (GIF)"
  QLineEdit* EditFile;           // the sheet or animation file
  QPushButton* BtnFile;
  QSpinBox* SpinColumns;
  QSpinBox* SpinScale;
  QSpinBox* SpinFps;
  QSpinBox* SpinPlays;        // 0: for ever
  QCheckBox* CheckPlacement;  // frames at their placements
  QLineEdit* editBegin;
  QLineEdit* EditEnd;
  QPushButton* BtnExport;
  QProgressBar* ProgressBar1;
  TFolderPicker FolderPicker;
  TSaveDialog SaveDialog1;
};
