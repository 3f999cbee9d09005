#include "dialogs/outpic.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include "library/myjov.h"

namespace {

// A spin box with its label, in a row.
QSpinBox* AddSpin(QHBoxLayout* row, QWidget* parent, const QString& label, const char* name,
                  int low, int high, int value) {
  auto* spin = Named<QSpinBox>(name, parent);
  spin->setRange(low, high);
  spin->setValue(value);
  auto* caption = new QLabel(label, parent);
  caption->setBuddy(spin);
  row->addWidget(caption);
  row->addWidget(spin);
  return spin;
}

}  // namespace

TFormout::TFormout(TDialogHost& host, QWidget* parent)
    : TJovDialog(host, parent, QStringLiteral("批量导出图片"),
                 QStringLiteral("Export Image Sequence")) {
  FolderPicker.Prompt = QStringLiteral("Save Images:");
  AddRow(new QLabel(QStringLiteral("Save To Folder:"), this));
  AddRow(MakePathRow(this, "EditPicPath", EditPicPath, BtnBrowse));
  AddRow(CreateKindGroup());
  QHBoxLayout* fileRow = MakePathRow(this, "EditFile", EditFile, BtnFile);
  BtnFile->setObjectName(QStringLiteral("BtnFile"));
  fileRow->insertWidget(0, new QLabel(QStringLiteral("Save To File:"), this));
  AddRow(fileRow);
  AddRow(CreateShareOptions());
  AddRow(MakeRangeGroup(QStringLiteral("Start/End"), "GroupRange", QStringLiteral("Start Idx:"),
                        QStringLiteral("End Idx:"), this, editBegin, EditEnd));
  AddRow(MakeProgressRows(ProgressBar1));
  AddClosingRow(MakeButtonRow(this, QStringLiteral("Export"), "BtnExport", BtnExport));
  resize(460, 360);
  FocusOn(TField::Begin, editBegin);
  FocusOn(TField::End, EditEnd);
  FocusOn(TField::File, EditFile);
  OnClick(BtnBrowse, &TFormout::BtnBrowseClick);
  OnClick(BtnFile, &TFormout::BtnFileClick);
  OnClick(BtnExport, &TFormout::BtnExportClick);
  for (QRadioButton* b : {RabtnFolder, RabtnSheet, RabtnAnimation})
    OnClick(b, &TFormout::KindClick);
  KindClick();
}

QGroupBox* TFormout::CreateKindGroup() {
  return MakeRadioGroup(QStringLiteral("Export As"), "GroupKind", this,
                        {{"Exchange folder", "RabtnFolder", &RabtnFolder},
                         {"Sheet (PNG)", "RabtnSheet", &RabtnSheet},
                         {"Animation (GIF)", "RabtnAnimation", &RabtnAnimation}});
}

QHBoxLayout* TFormout::CreateShareOptions() {
  auto* row = new QHBoxLayout;
  SpinColumns = AddSpin(row, this, QStringLiteral("Columns:"), "SpinColumns", 1, 1000, 8);
  SpinScale = AddSpin(row, this, QStringLiteral("Scale:"), "SpinScale", 1, 16, 1);
  SpinFps = AddSpin(row, this, QStringLiteral("FPS:"), "SpinFps", 1, 100, 10);
  SpinPlays = AddSpin(row, this, QStringLiteral("Plays:"), "SpinPlays", 0, 65535, 0);
  SpinPlays->setSpecialValueText(QStringLiteral("for ever"));
  CheckPlacement = Named<QCheckBox>("CheckPlacement", QStringLiteral("Apply X/Y"), this);
  CheckPlacement->setChecked(true);
  row->addWidget(CheckPlacement);
  row->addStretch(1);
  return row;
}

void TFormout::Prepare() {
  EditPicPath->clear();
  editBegin->setText(QStringLiteral("0"));
  EditEnd->setText(QString::number(Host.Jov().ImageCount() - 1));
}

void TFormout::Fill(const TDialogFill& fill) {
  if (!fill.range) return;
  editBegin->setText(QString::number(fill.range->first));
  EditEnd->setText(QString::number(fill.range->second));
}

void TFormout::KindClick() {
  const bool sheet = RabtnSheet->isChecked(), animation = RabtnAnimation->isChecked();
  for (QWidget* w : {static_cast<QWidget*>(EditPicPath), static_cast<QWidget*>(BtnBrowse)})
    w->setEnabled(!sheet && !animation);
  EditFile->setEnabled(sheet || animation);
  BtnFile->setEnabled(sheet || animation);
  SpinColumns->setEnabled(sheet);
  SpinScale->setEnabled(sheet);
  for (QWidget* w : {static_cast<QWidget*>(SpinFps), static_cast<QWidget*>(SpinPlays),
                     static_cast<QWidget*>(CheckPlacement)})
    w->setEnabled(animation);
}

void TFormout::BtnBrowseClick() {
  if (FolderPicker.Execute(this)) EditPicPath->setText(FolderPicker.Folder);
}

void TFormout::BtnFileClick() {
  const bool sheet = RabtnSheet->isChecked();
  SaveDialog1.Title = sheet ? QStringLiteral("Save Sheet To") : QStringLiteral("Save Animation To");
  SaveDialog1.Filter = sheet ? QStringLiteral("PNG (*.png)") : QStringLiteral("GIF (*.gif)");
  SaveDialog1.DefaultExt = sheet ? QStringLiteral(".png") : QStringLiteral(".gif");
  SaveDialog1.FileName = EditFile->text();
  if (SaveDialog1.Execute(this)) EditFile->setText(SaveDialog1.FileName);
}

void TFormout::BtnExportClick() {
  if (Running()) return;
  if (RabtnFolder->isChecked())
    ExportFolder();
  else
    SharePictures();
}

void TFormout::ExportFolder() {
  QCoreApplication::processEvents();
  TExportRangeRequest request;
  request.folder = EditPicPath->text();
  request.beginText = editBegin->text();
  request.endText = EditEnd->text();
  if (const auto outcome =
          ValidateAndRun(request, TRunTarget::Read,
                         {BtnExport, BtnBrowse, editBegin, EditEnd, RabtnSheet, RabtnAnimation}))
    Finish(*outcome);
}

// A done run closes the dialog.  A failed one keeps it open, the bar as the failure left
// it (what was written stays), unless a close was asked for during the run.
void TFormout::Finish(const TOutcome& outcome) {
  const bool closeAsked = TakeCloseRequest();
  if (outcome.Done()) {
    ProgressBar1->hide();
    Host.Report(outcome);
    accept();
    return;
  }
  Host.Report(outcome);
  if (closeAsked) QDialog::reject();
}

void TFormout::SharePictures() {
  TSharePictureRequest request;
  request.kind = RabtnSheet->isChecked() ? TSharePictureRequest::Kind::Sheet
                                         : TSharePictureRequest::Kind::Animation;
  request.path = EditFile->text();
  request.beginText = editBegin->text();
  request.endText = EditEnd->text();
  request.columns = SpinColumns->value();
  request.scale = SpinScale->value();
  request.fps = SpinFps->value();
  request.plays = SpinPlays->value();
  request.placement = CheckPlacement->isChecked();
  if (const auto outcome = ValidateAndRun(
          request, TRunTarget::Read,
          {BtnExport, BtnFile, editBegin, EditEnd, RabtnFolder, RabtnSheet, RabtnAnimation}))
    Finish(*outcome);
}
