#include "dialogs/del.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "common/errors.h"
#include "common/operation.h"
#include "common/parseinteger.h"
#include "editing/rangeedit.h"
#include "viewer/mail.h"
#include "widgets/guard.h"

namespace {

const QString kBadIndex = QStringLiteral("请输入正确的编号");
const QString kDeleted = QStringLiteral("删除成功");
const QString kNotDeleted = QStringLiteral("删除失败");

}  // namespace

TFormdel::TFormdel(TFormMain& main)
    : TJovDialog(main, QStringLiteral("删除入图片"), QStringLiteral("Delete Image")) {
  GroupSequence = MakeRangeGroup(QStringLiteral("Sequence"), QStringLiteral("Start Idx:"),
                                 QStringLiteral("End Idx:"), this, editBegin, EditEnd);

  GroupMode = new QGroupBox(QStringLiteral("Mode"), this);
  RabtnDel = new QRadioButton(QStringLiteral("Delete Idx"), GroupMode);
  RabtnNull = new QRadioButton(QStringLiteral("Clear Img"), GroupMode);
  RabtnDel->setChecked(true);
  auto* mode = new QHBoxLayout(GroupMode);
  mode->addWidget(RabtnDel);
  mode->addWidget(RabtnNull);
  mode->addStretch(1);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->hide();

  BtnDelete = new QPushButton(QStringLiteral("Delete"), this);
  BtnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  BtnDelete->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(BtnDelete);
  buttons->addWidget(BtnCancel);

  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  int at = 1;
  layout->insertWidget(at++, GroupSequence);
  layout->insertWidget(at++, GroupMode);
  layout->insertWidget(at++, ProgressBar1);
  layout->addLayout(buttons);
  resize(380, 260);

  connect(BtnDelete, &QPushButton::clicked, this,
          [this] { Guarded([this] { BtnDeleteClick(); }); });
  connect(BtnCancel, &QPushButton::clicked, this,
          [this] { Guarded([this] { BtnCancelClick(); }); });
}

void TFormdel::BtnCancelClick() {
  reject();
}

void TFormdel::RefuseIndex(QLineEdit* field) {
  FormMain.showErrMessage(kBadIndex);
  field->setFocus();
}

void TFormdel::BtnDeleteClick() {
  if (Running()) return;
  ProgressBar1->setValue(0);
  const int count = FormMain.Jov().IsOpen() ? FormMain.Jov().ImageCount() : 0;
  const TParsedInteger begin = ParseInteger(editBegin->text());
  if (!begin.ok() || begin.value > count - 1 || begin.value < 0) return RefuseIndex(editBegin);
  const TParsedInteger end = ParseInteger(EditEnd->text());
  if (!end.ok() || end.value > count - 1 || end.value < 0 || end.value < begin.value)
    return RefuseIndex(EditEnd);

  bool done = false;
  try {
    TRun run(*this, {BtnDelete});
    done = Run(begin.value, end.value);
  } catch (...) {
    ProgressBar1->hide();
    throw;
  }
  TakeCloseRequest();  // the dialog closes anyway
  FormMain.showMessage(done ? kDeleted : kNotDeleted);
  // The main window shows the library as it now is, also after a failure (unchanged).
  FormMain.ShowLibraryChanged();
  accept();
}

bool TFormdel::Run(int s, int e) {
  TJOV& jov = FormMain.Jov();
  try {
    if (RabtnDel->isChecked()) {
      DeleteRange(jov, s, e);
      return true;
    }
  } catch (const EJovError&) {
    return false;
  }
  const int k = e - s + 1;
  ProgressBar1->setRange(0, k);
  ProgressBar1->setValue(0);
  ProgressBar1->show();
  TProgressFunction progress([this](int64_t done, int64_t) { ProgressBar1->setValue(int(done)); });
  bool cleared = true;
  try {
    ClearRange(jov, s, e, &progress);
  } catch (const EJovError&) {
    cleared = false;  // the library is as it was
  }
  ProgressBar1->hide();
  return cleared;
}
