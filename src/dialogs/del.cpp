#include "dialogs/del.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include "library/myjov.h"

TFormdel::TFormdel(TDialogHost& host, QWidget* parent)
    : TJovDialog(host, parent, QStringLiteral("删除入图片"), QStringLiteral("Delete Image")) {
  AddRow(MakeRangeGroup(QStringLiteral("Sequence"), "GroupSequence", QStringLiteral("Start Idx:"),
                        QStringLiteral("End Idx:"), this, editBegin, EditEnd));

  QGroupBox* mode = MakeRadioGroup(
      QStringLiteral("Mode"), "GroupMode", this,
      {{"Delete Idx", "RabtnDel", &RabtnDel}, {"Clear Img", "RabtnNull", &RabtnNull}});
  static_cast<QHBoxLayout*>(mode->layout())->addStretch(1);
  AddRow(mode);

  AddRow(MakeProgressRows(ProgressBar1));
  AddClosingRow(MakeButtonRow(this, QStringLiteral("Delete"), "BtnDelete", BtnDelete));
  resize(380, 260);
  FocusOn(TField::Begin, editBegin);
  FocusOn(TField::End, EditEnd);
  OnClick(BtnDelete, &TFormdel::BtnDeleteClick);
}

void TFormdel::BtnDeleteClick() {
  if (Running()) return;
  ProgressBar1->setValue(0);
  TDeleteRequest request;
  request.beginText = editBegin->text();
  request.endText = EditEnd->text();
  request.clear = RabtnNull->isChecked();
  // A refusal leaves the dialog open.
  // The main window shows the library as it now is, also after a failure (unchanged).
  const auto outcome = ValidateAndRun(request, TRunTarget::Change,
                                      {BtnDelete, editBegin, EditEnd, RabtnDel, RabtnNull});
  if (!outcome) return;
  ProgressBar1->hide();
  Host.Report(*outcome, TBox::Information);
  TakeCloseRequest();  // the dialog closes anyway
  accept();
}

void TFormdel::Fill(const TDialogFill& fill) {
  if (!fill.range) return;
  editBegin->setText(QString::number(fill.range->first));
  EditEnd->setText(QString::number(fill.range->second));
}
