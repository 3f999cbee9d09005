#pragma once

// The batch-import dialog: brings a folder of bitmaps, or of placement files, into the
// library: whole images appended, inserted or written over a range (All), pixels only
// (Pic) or placements only (X/Y).

#include <QStringList>

#include "dialogs/jovdialog.h"
#include "widgets/filedialog.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QWidget;

class TFormadd : public TJovDialog {
  Q_OBJECT

 public:
  explicit TFormadd(TFormMain& main);

  QWidget* Controls;  // everything but the progress bar: disabled while a run goes on
  QLabel* Label1;
  QLineEdit* EditPicPath;  // read-only, filled by the folder picker
  QPushButton* BtnBrowse;  // "..."
  QGroupBox* GroupMode;
  QRadioButton* RabtnAll;
  QRadioButton* RabtnPic;
  QRadioButton* Rabtnxy;
  QGroupBox* GroupModes;
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
  QPushButton* BtnCancel;
  TFolderPicker FolderPicker;

  void RabtnInsertClick();
  void RabtnPicClick();
  void BtnBrowseClick();
  void BtnImportClick();
  void BtnCancelClick();

  // One run each; true on success.
  bool AddAll();
  bool AddPic();
  bool AddXy();


 public slots:

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // The checks shared by the runs; each shows its message and gives false on a breach.
  bool FolderRule();
  bool ValidRange(const QString& message, int& begin, int& end);
  bool CountRule(int files, int begin, int end);
  QString Folder() const;
  void StartProgress(int maximum);
  void Progress(int done, int total);

};
