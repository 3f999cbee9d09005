#include "dialogs/outpic.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/operation.h"
#include "common/parseinteger.h"
#include "editing/exchange.h"
#include "editing/export.h"
#include "viewer/mail.h"
#include "widgets/guard.h"

namespace {

const QString kOpenFirst = QStringLiteral("请先打开jov文件！");
const QString kBadIndex = QStringLiteral("请输入正确的编号");
const QString kNoFolder = QStringLiteral("请输入导出的位置！");
const QString kExported = QStringLiteral("批量导出图片成功！");

}  // namespace

TFormout::TFormout(TFormMain& main)
    : TJovDialog(main, QStringLiteral("批量导出图片"), QStringLiteral("Export Image Sequence")) {
  FolderPicker.Prompt = QStringLiteral("Save Images:");

  auto* folderLabel = new QLabel(QStringLiteral("Save To Folder:"), this);
  EditPicPath = new QLineEdit(this);
  EditPicPath->setReadOnly(true);
  BtnBrowse = new QPushButton(QStringLiteral("..."), this);
  BtnBrowse->setFixedWidth(28);

  GroupRange = MakeRangeGroup(QStringLiteral("Start/End"), QStringLiteral("Start Idx:"),
                              QStringLiteral("End Idx:"), this, editBegin, EditEnd);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->hide();

  BtnExport = new QPushButton(QStringLiteral("Export"), this);
  BtnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  BtnExport->setDefault(true);

  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(EditPicPath, 1);
  folderRow->addWidget(BtnBrowse);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(BtnExport);
  buttons->addWidget(BtnCancel);

  // Below the caption the common dialog puts first, above its closing stretch.
  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  int at = 1;
  layout->insertWidget(at++, folderLabel);
  layout->insertLayout(at++, folderRow);
  layout->insertWidget(at++, GroupRange);
  layout->insertWidget(at++, ProgressBar1);
  layout->addLayout(buttons);
  resize(420, 260);

  connect(BtnBrowse, &QPushButton::clicked, this,
          [this] { Guarded([this] { BtnBrowseClick(); }); });
  connect(BtnExport, &QPushButton::clicked, this,
          [this] { Guarded([this] { BtnExportClick(); }); });
  connect(BtnCancel, &QPushButton::clicked, this,
          [this] { Guarded([this] { BtnCancelClick(); }); });
}

void TFormout::BtnBrowseClick() {
  if (FolderPicker.Execute(this)) EditPicPath->setText(FolderPicker.Folder);
}

void TFormout::BtnCancelClick() {
  reject();
}

void TFormout::showEvent(QShowEvent* event) {
  // A bar left standing by a failed run is not shown again.
  if (!Running()) ProgressBar1->hide();
  TJovDialog::showEvent(event);
}

void TFormout::RefuseIndex(QLineEdit* field) {
  FormMain.showErrMessage(kBadIndex);
  field->setFocus();
}

void TFormout::BtnExportClick() {
  if (Running()) return;
  QCoreApplication::processEvents();
  TJOV& jov = FormMain.Jov();
  if (!jov.IsOpen()) {
    FormMain.showErrMessage(kOpenFirst);
    return;
  }
  const TParsedInteger begin = ParseInteger(editBegin->text());
  if (!begin.ok()) return RefuseIndex(editBegin);
  const TParsedInteger end = ParseInteger(EditEnd->text());
  if (!end.ok()) return RefuseIndex(EditEnd);

  QCoreApplication::processEvents();
  const TExportRange range = ClampExportRange(begin.value, end.value, jov.ImageCount());
  // A start one above the end is an empty run; further above, the two numbers cannot
  // both be meant, and nothing is written.
  if (range.start > range.end + 1) return RefuseIndex(editBegin);
  if (EditPicPath->text().isEmpty()) {
    FormMain.showErrMessage(kNoFolder);
    return;
  }
  const QString folder = WithTrailingSeparator(EditPicPath->text());

  try {
    TRun run(*this, {BtnExport, BtnBrowse});
    EnsurePlacementsFolder(folder);
    ProgressBar1->setRange(0, range.end - range.start + 1);
    ProgressBar1->setValue(0);
    ProgressBar1->show();
    const int total = range.end - range.start + 1;
    TProgressFunction progress([this, total](int64_t done, int64_t) {
      if (done >= total) return;
      ProgressBar1->setValue(int(done) + 1);
      QCoreApplication::processEvents();
    });
    ExportSequence(jov, folder, range, &progress);
  } catch (...) {
    // Reported by the guard; the bar stays as the failure left it.
    if (TakeCloseRequest()) reject();
    throw;
  }
  if (TakeCloseRequest()) reject();
  ProgressBar1->hide();
  FormMain.showMessage(kExported);
  accept();
}
