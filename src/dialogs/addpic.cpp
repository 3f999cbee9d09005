#include "dialogs/addpic.h"

#include <QButtonGroup>
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
#include "editing/batchimport.h"
#include "editing/exchange.h"
#include "viewer/mail.h"
#include "widgets/guard.h"

namespace {

const QString kBadIndex = QStringLiteral("请输入正确的编号");
const QString kBadFormat = QStringLiteral("请输入正确的格式");
const QString kNoFolder = QStringLiteral("请输入图片所在路径!");
const QString kTooFew = QStringLiteral("图片数目不够！");
const QString kDone = QStringLiteral("批量导入成功");
const QString kFailed = QStringLiteral("批量导入失败");
const QString kPicturesFolder = QStringLiteral("图片所在文件夹：");
const QString kPlacementsFolderLabel = QStringLiteral("坐标所在文件夹：");

QRadioButton* Radio(const QString& text, QWidget* parent, QLayout* layout) {
  auto* button = new QRadioButton(text, parent);
  layout->addWidget(button);
  return button;
}

}  // namespace

TFormadd::TFormadd(TFormMain& main)
    : TJovDialog(main, QStringLiteral("批量导入图片"), QStringLiteral("Import From Folder")) {
  FolderPicker.Prompt = QStringLiteral("Import From Folder:");
  Controls = new QWidget(this);

  Label1 = new QLabel(QStringLiteral("Folder To Import:"), Controls);
  EditPicPath = new QLineEdit(Controls);
  EditPicPath->setReadOnly(true);
  BtnBrowse = new QPushButton(QStringLiteral("..."), Controls);
  BtnBrowse->setFixedWidth(28);

  GroupMode = new QGroupBox(QStringLiteral("Mode"), Controls);
  auto* modeLayout = new QHBoxLayout(GroupMode);
  RabtnAll = Radio(QStringLiteral("All"), GroupMode, modeLayout);
  RabtnPic = Radio(QStringLiteral("Pic"), GroupMode, modeLayout);
  Rabtnxy = Radio(QStringLiteral("X/Y"), GroupMode, modeLayout);
  RabtnAll->setChecked(true);

  GroupModes = new QGroupBox(QStringLiteral("Modes"), Controls);
  auto* modesLayout = new QHBoxLayout(GroupModes);
  RabtnAdd = Radio(QStringLiteral("Add"), GroupModes, modesLayout);
  RabtnInsert = Radio(QStringLiteral("Insert"), GroupModes, modesLayout);
  RabtnReplace = Radio(QStringLiteral("Replace"), GroupModes, modesLayout);
  RabtnAdd->setChecked(true);

  GroupRange = MakeRangeGroup(QStringLiteral("Begin/End"), QStringLiteral("Begin:"),
                              QStringLiteral("End:"), Controls, editBegin, EditEnd);
  GroupRange->setEnabled(false);

  GroupBoxxy = new QGroupBox(QStringLiteral("Placement Uses"), Controls);
  auto* xyLayout = new QHBoxLayout(GroupBoxxy);
  RabtnFile = Radio(QStringLiteral("From Folder"), GroupBoxxy, xyLayout);
  RabtnNewLike = Radio(QStringLiteral("New Like:"), GroupBoxxy, xyLayout);
  editxy = new QLineEdit(QStringLiteral("0,0"), GroupBoxxy);
  xyLayout->addWidget(editxy);
  RabtnFile->setChecked(true);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->hide();

  BtnImport = new QPushButton(QStringLiteral("Import"), Controls);
  BtnCancel = new QPushButton(QStringLiteral("Cancel"), Controls);
  BtnImport->setDefault(true);

  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(EditPicPath, 1);
  folderRow->addWidget(BtnBrowse);
  auto* groups = new QHBoxLayout;
  groups->addWidget(GroupMode);
  groups->addWidget(GroupModes);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(BtnImport);
  buttons->addWidget(BtnCancel);
  auto* controls = new QVBoxLayout(Controls);
  controls->setContentsMargins(0, 0, 0, 0);
  controls->addWidget(Label1);
  controls->addLayout(folderRow);
  controls->addLayout(groups);
  controls->addWidget(GroupRange);
  controls->addWidget(GroupBoxxy);
  controls->addLayout(buttons);

  // Below the caption the common dialog puts first, above its closing stretch.
  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  layout->insertWidget(1, Controls);
  layout->insertWidget(2, ProgressBar1);
  resize(460, 360);

  auto guarded = [this](void (TFormadd::*handler)()) {
    return [this, handler] { Guarded([this, handler] { (this->*handler)(); }); };
  };
  for (QRadioButton* b : {RabtnAdd, RabtnInsert, RabtnReplace})
    connect(b, &QRadioButton::clicked, this, guarded(&TFormadd::RabtnInsertClick));
  for (QRadioButton* b : {RabtnAll, RabtnPic, Rabtnxy})
    connect(b, &QRadioButton::clicked, this, guarded(&TFormadd::RabtnPicClick));
  connect(BtnBrowse, &QPushButton::clicked, this, guarded(&TFormadd::BtnBrowseClick));
  connect(BtnImport, &QPushButton::clicked, this, guarded(&TFormadd::BtnImportClick));
  connect(BtnCancel, &QPushButton::clicked, this, guarded(&TFormadd::BtnCancelClick));
}

void TFormadd::RabtnInsertClick() {
  GroupRange->setEnabled(!RabtnAdd->isChecked());
  EditEnd->setEnabled(RabtnReplace->isChecked());
}

void TFormadd::RabtnPicClick() {
  if (RabtnAll->isChecked()) {
    for (QWidget* w : {static_cast<QWidget*>(RabtnAdd), static_cast<QWidget*>(RabtnInsert),
                       static_cast<QWidget*>(RabtnReplace), static_cast<QWidget*>(EditPicPath),
                       static_cast<QWidget*>(BtnBrowse), static_cast<QWidget*>(GroupBoxxy)})
      w->setEnabled(true);
    Label1->setText(kPicturesFolder);
    return;
  }
  GroupRange->setEnabled(true);
  RabtnReplace->setChecked(true);
  RabtnInsertClick();
  RabtnAdd->setEnabled(false);
  RabtnInsert->setEnabled(false);
  RabtnReplace->setEnabled(true);
  if (RabtnPic->isChecked()) {
    Label1->setText(kPicturesFolder);
    GroupBoxxy->setEnabled(false);
  } else {
    GroupBoxxy->setEnabled(true);
    Label1->setText(kPlacementsFolderLabel);
  }
}

void TFormadd::BtnBrowseClick() {
  if (FolderPicker.Execute(this)) EditPicPath->setText(FolderPicker.Folder);
}

void TFormadd::BtnCancelClick() {
  reject();
}

void TFormadd::showEvent(QShowEvent* event) {
  // A bar left standing by a failed run is not shown again.
  if (!Running()) ProgressBar1->hide();
  TJovDialog::showEvent(event);
}

QString TFormadd::Folder() const {
  return WithTrailingSeparator(EditPicPath->text());
}

bool TFormadd::FolderRule() {
  if (!EditPicPath->text().isEmpty()) return true;
  FormMain.showErrMessage(kNoFolder);
  return false;
}

bool TFormadd::ValidRange(const QString& message, int& begin, int& end) {
  const int last = FormMain.Jov().ImageCount() - 1;
  const TParsedInteger b = ParseInteger(editBegin->text());
  if (!b.ok() || b.value < 0 || b.value > last) {
    FormMain.showErrMessage(message);
    editBegin->setFocus();
    return false;
  }
  const TParsedInteger e = ParseInteger(EditEnd->text());
  if (!e.ok() || e.value < 0 || e.value > last || e.value < b.value) {
    FormMain.showErrMessage(message);
    EditEnd->setFocus();
    return false;
  }
  begin = b.value;
  end = e.value;
  return true;
}

bool TFormadd::CountRule(int files, int begin, int end) {
  if (int64_t(files) >= int64_t(end) - begin + 1) return true;
  FormMain.showErrMessage(kTooFew);
  EditEnd->setFocus();
  return false;
}

void TFormadd::StartProgress(int maximum) {
  ProgressBar1->setRange(0, maximum);
  ProgressBar1->setValue(0);
  ProgressBar1->show();
}

void TFormadd::Progress(int done, int total) {
  if (ProgressBar1->maximum() != total) ProgressBar1->setMaximum(total);
  ProgressBar1->setValue(done);
}

bool TFormadd::AddAll() {
  if (!FolderRule()) return false;
  QCoreApplication::processEvents();
  const QString folder = Folder();
  const QStringList files = ListBitmapFiles(folder);
  TImportPlacements placements;
  placements.newLike = RabtnNewLike->isChecked();
  placements.pair = ParsePlacementText(editxy->text());
  TJOV& jov = FormMain.Jov();
  TProgressFunction progressFunction(
      [this](int64_t done, int64_t total) { Progress(int(done), int(total)); });
  TOperationDelegate* progress = &progressFunction;
  int begin = 0, end = 0;
  if (RabtnInsert->isChecked() && !ValidRange(kBadIndex, begin, end)) return false;
  if (RabtnReplace->isChecked() &&
      (!ValidRange(kBadIndex, begin, end) || !CountRule(int(files.size()), begin, end)))
    return false;
  // A failed run leaves the library as it was: it is reported, not raised.
  try {
    if (RabtnAdd->isChecked()) {
      StartProgress(int(files.size()));
      ImportAdd(jov, folder, files, placements, progress);
    } else if (RabtnInsert->isChecked()) {
      StartProgress(int(files.size()));
      ImportInsert(jov, folder, files, placements, begin, progress);
    } else {
      StartProgress(end - begin + 1);
      ImportReplace(jov, folder, files, placements, begin, end, progress);
    }
  } catch (const EJovError&) {
    return false;
  }
  return true;
}

bool TFormadd::AddPic() {
  if (!FolderRule()) return false;
  const QString folder = Folder();
  const QStringList files = ListBitmapFiles(folder);
  int begin = 0, end = 0;
  if (!ValidRange(kBadIndex, begin, end)) return false;
  StartProgress(end - begin + 1);
  if (!CountRule(int(files.size()), begin, end)) return false;
  // A file error is not caught here: the error box shows it, and the library is as it
  // was.
  TProgressFunction progress(
      [this](int64_t done, int64_t total) { Progress(int(done), int(total)); });
  ImportPixels(FormMain.Jov(), folder, begin, end, &progress);
  return true;
}

bool TFormadd::AddXy() {
  TImportPlacements placements;
  placements.newLike = RabtnNewLike->isChecked();
  placements.pair = ParsePlacementText(editxy->text());
  if (!placements.newLike && !FolderRule()) return false;
  int begin = 0, end = 0;
  if (!ValidRange(kBadFormat, begin, end)) return false;
  StartProgress(end - begin + 1);
  // A placement file that cannot be read is not caught here either.
  TProgressFunction progress(
      [this](int64_t done, int64_t total) { Progress(int(done), int(total)); });
  ImportPlacements(FormMain.Jov(), placements.newLike ? QString() : Folder(), placements, begin,
                   end, &progress);
  return true;
}

void TFormadd::BtnImportClick() {
  if (Running() || !FormMain.Jov().IsOpen()) return;
  // Window messages are pumped during the run: nothing of the dialog may start another
  // one, and a close waits for its end.
  bool ok;
  try {
    TRun run(*this, {Controls});
    if (RabtnAll->isChecked())
      ok = AddAll();
    else if (RabtnPic->isChecked())
      ok = AddPic();
    else
      ok = AddXy();
  } catch (...) {
    // Shown by the guard; the dialog stays open unless a close was asked for meanwhile.
    if (TakeCloseRequest()) reject();
    throw;
  }
  FormMain.showMessage(ok ? kDone : kFailed);
  ProgressBar1->hide();
  ProgressBar1->setValue(0);
  EditPicPath->clear();
  FormMain.ShowLibraryChanged();
  TakeCloseRequest();  // the dialog closes anyway
  accept();
}
