#include "dialogs/newlib.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "common/operation.h"
#include "editing/createlib.h"
#include "library/myjov.h"
#include "viewer/mail.h"
#include "widgets/guard.h"

namespace {

const QString kNoFolder = QStringLiteral("请输入图片所在路径!");
const QString kNoFileName = QStringLiteral("请输入新建数据文件名!");
const QString kCreated = QStringLiteral("建立新文件成功!");
const QString kFailed = QStringLiteral("建立新文件失败!");

}  // namespace

TFormnew::TFormnew(TFormMain& main)
    : TJovDialog(main, QStringLiteral("创建新的数据文件"), QStringLiteral("Create New File")) {
  FolderPicker.Prompt = QStringLiteral("Set Folder:");
  SaveDialog1.Title = QStringLiteral("Save As File");
  SaveDialog1.Filter = QStringLiteral("jov (*.jov)");
  SaveDialog1.DefaultExt = QStringLiteral(".jov");

  auto* pathLabel = new QLabel(QStringLiteral("ImagePath:"), this);
  EditPicPath = new QLineEdit(this);
  EditPicPath->setReadOnly(true);
  BtnPicPath = new QPushButton(QStringLiteral("..."), this);
  BtnPicPath->setFixedWidth(28);
  auto* fileLabel = new QLabel(QStringLiteral("Filename:"), this);
  EditFileName = new QLineEdit(this);
  EditFileName->setReadOnly(true);
  BtnFileName = new QPushButton(QStringLiteral("..."), this);
  BtnFileName->setFixedWidth(28);
  pathLabel->setBuddy(EditPicPath);
  fileLabel->setBuddy(EditFileName);

  // Two independent choices: where placements come from, and which palette.
  GroupPlacement = new QGroupBox(QStringLiteral("Placement"), this);
  RbFromFile = new QRadioButton(QStringLiteral("From File"), GroupPlacement);
  RbUseNew = new QRadioButton(QStringLiteral("Use New:"), GroupPlacement);
  editxy = new QLineEdit(QStringLiteral("0,0"), GroupPlacement);
  RbFromFile->setChecked(true);
  auto* placement = new QGridLayout(GroupPlacement);
  placement->addWidget(RbFromFile, 0, 0, 1, 2);
  placement->addWidget(RbUseNew, 1, 0);
  placement->addWidget(editxy, 1, 1);

  GroupImages = new QGroupBox(QStringLiteral("Images"), this);
  RbBoardSys = new QRadioButton(QStringLiteral("System?"), GroupImages);
  RbBoardBmp = new QRadioButton(QStringLiteral("Bmp??"), GroupImages);
  RbBoardSys->setChecked(true);
  auto* images = new QVBoxLayout(GroupImages);
  images->addWidget(RbBoardSys);
  images->addWidget(RbBoardBmp);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->hide();

  BtnCreate = new QPushButton(QStringLiteral("Create"), this);
  BtnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  BtnCreate->setDefault(true);

  auto* fields = new QGridLayout;
  fields->addWidget(pathLabel, 0, 0);
  fields->addWidget(EditPicPath, 0, 1);
  fields->addWidget(BtnPicPath, 0, 2);
  fields->addWidget(fileLabel, 1, 0);
  fields->addWidget(EditFileName, 1, 1);
  fields->addWidget(BtnFileName, 1, 2);
  auto* groups = new QHBoxLayout;
  groups->addWidget(GroupPlacement, 1);
  groups->addWidget(GroupImages, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(BtnCreate);
  buttons->addWidget(BtnCancel);

  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  int at = 1;
  layout->insertLayout(at++, fields);
  layout->insertLayout(at++, groups);
  layout->insertWidget(at++, ProgressBar1);
  layout->addLayout(buttons);
  resize(460, 280);

  connect(BtnPicPath, &QPushButton::clicked, this,
          [this] { Guarded([this] { BtnPicPathClick(); }); });
  connect(BtnFileName, &QPushButton::clicked, this,
          [this] { Guarded([this] { BtnFileNameClick(); }); });
  connect(BtnCreate, &QPushButton::clicked, this,
          [this] { Guarded([this] { BtnCreateClick(); }); });
  connect(BtnCancel, &QPushButton::clicked, this,
          [this] { Guarded([this] { BtnCancelClick(); }); });
}

void TFormnew::BtnPicPathClick() {
  if (FolderPicker.Execute(this)) EditPicPath->setText(FolderPicker.Folder);
}

void TFormnew::BtnFileNameClick() {
  if (SaveDialog1.Execute(this)) EditFileName->setText(SaveDialog1.FileName);
}

void TFormnew::BtnCancelClick() {
  reject();
}

void TFormnew::BtnCreateClick() {
  if (Running()) return;
  if (EditPicPath->text().isEmpty()) return FormMain.showErrMessage(kNoFolder);
  if (EditFileName->text().isEmpty()) return FormMain.showErrMessage(kNoFileName);
  QCoreApplication::processEvents();

  TCreateOptions options;
  options.folder = EditPicPath->text();
  options.dataPath = EditFileName->text();
  options.paletteFromFirstBitmap = RbBoardBmp->isChecked();
  if (RbUseNew->isChecked()) options.placement = ParsePlacementText(editxy->text());

  QString failure;
  {
    TRun run(*this, {BtnCreate, BtnPicPath, BtnFileName});
    try {
      TProgressFunction progress([this](int64_t done, int64_t total) {
        if (done == 0) {
          ProgressBar1->setRange(0, int(total));
          ProgressBar1->show();
        }
        ProgressBar1->setValue(int(done));
      });
      CreateLibrary(options, &progress);
    } catch (const std::exception& e) {
      failure = QString::fromUtf8(e.what());
    }
  }
  ProgressBar1->hide();
  TakeCloseRequest();  // the dialog closes anyway
  if (!failure.isEmpty()) {
    // Nothing was written: the old files, if any, stand as they were.
    FormMain.showErrMessage(kFailed + QLatin1Char('\n') + failure);
  } else {
    // A library replaced under the viewer's eyes is shown as it now is.
    TJOV& jov = FormMain.Jov();
    if (jov.IsOpen() && QFileInfo(jov.FileName()).absoluteFilePath() ==
                            QFileInfo(options.dataPath).absoluteFilePath())
      FormMain.OpenLibrary(jov.FileName());
    FormMain.showMessage(kCreated);
  }
  accept();
}
