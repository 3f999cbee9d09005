#include "dialogs/outpic.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "library/myjov.h"

TFormout::TFormout(TDialogHost& host, QWidget* parent)
    : TJovDialog(host, parent, QStringLiteral("批量导出图片"),
                 QStringLiteral("Export Image Sequence")) {
  FolderPicker.Prompt = QStringLiteral("Save Images:");
  AddRow(new QLabel(QStringLiteral("Save To Folder:"), this));
  AddRow(MakePathRow(this, "EditPicPath", EditPicPath, BtnBrowse));
  AddRow(MakeRangeGroup(QStringLiteral("Start/End"), "GroupRange", QStringLiteral("Start Idx:"),
                        QStringLiteral("End Idx:"), this, editBegin, EditEnd));
  AddRow(ProgressBar1 = MakeProgressBar());
  AddClosingRow(MakeButtonRow(this, QStringLiteral("Export"), "BtnExport", BtnExport));
  resize(420, 260);
  FocusOn(TField::Begin, editBegin);
  FocusOn(TField::End, EditEnd);
  // It only reads: the windows repaint and Cancel is heard while it runs.
  PumpDuringRuns();
  OnClick(BtnBrowse, &TFormout::BtnBrowseClick);
  OnClick(BtnExport, &TFormout::BtnExportClick);
}

void TFormout::Prepare() {
  EditPicPath->clear();
  editBegin->setText(QStringLiteral("0"));
  EditEnd->setText(QString::number(Host.Jov().ImageCount() - 1));
}

void TFormout::BtnBrowseClick() {
  if (FolderPicker.Execute(this)) EditPicPath->setText(FolderPicker.Folder);
}

void TFormout::BtnExportClick() {
  if (Running()) return;
  QCoreApplication::processEvents();
  TExportRangeRequest request;
  request.folder = EditPicPath->text();
  request.beginText = editBegin->text();
  request.endText = EditEnd->text();
  if (Refused(request.Validate(Host.Jov()))) return;
  const TOutcome outcome = RunRequest(
      {BtnExport, BtnBrowse}, [&](TOperationDelegate* d) { return request.Run(Host.Jov(), d); });
  if (!outcome.Done()) {
    // The bar stays as the failure left it; what was written stays too.
    Host.Report(outcome);
    if (TakeCloseRequest()) reject();
    return;
  }
  TakeCloseRequest();  // the dialog closes anyway
  ProgressBar1->hide();
  Host.Report(outcome);
  accept();
}
