#include "dialogs/addone.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "common/errors.h"
#include "common/parseinteger.h"
#include "editing/rangeedit.h"
#include "viewer/mail.h"
#include "widgets/guard.h"

namespace {

const QString kChoosePicture = QStringLiteral("请选择要添加图片文件!");
const QString kAdded = QStringLiteral("加入图片成功！");
const QString kNotAdded = QStringLiteral("加入图片失败！");

}  // namespace

TFormaddone::TFormaddone(TFormMain& main)
    : TJovDialog(main, QStringLiteral("添加图片"), QStringLiteral("Add Image")) {
  auto* picLabel = new QLabel(QStringLiteral("Image To Add:"), this);
  EditPic = new QLineEdit(this);
  EditPic->setReadOnly(true);
  BtnBrowse = new QPushButton(QStringLiteral("..."), this);
  BtnBrowse->setFixedWidth(28);

  Rabtnadd = new QRadioButton(QStringLiteral("Add"), this);
  RabtnInsert = new QRadioButton(QStringLiteral("Insert"), this);
  Rabtnadd->setChecked(true);

  GroupPlacement = new QGroupBox(QStringLiteral("Placement"), this);
  editx = new QLineEdit(QStringLiteral("0"), GroupPlacement);
  EDITy = new QLineEdit(QStringLiteral("0"), GroupPlacement);
  auto* xLabel = new QLabel(QStringLiteral("X："), GroupPlacement);
  auto* yLabel = new QLabel(QStringLiteral("Y："), GroupPlacement);
  xLabel->setBuddy(editx);
  yLabel->setBuddy(EDITy);
  auto* placement = new QGridLayout(GroupPlacement);
  placement->addWidget(xLabel, 0, 0);
  placement->addWidget(editx, 0, 1);
  placement->addWidget(yLabel, 0, 2);
  placement->addWidget(EDITy, 0, 3);

  BtnAdd = new QPushButton(QStringLiteral("Add"), this);
  BtnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  BtnAdd->setDefault(true);

  auto* picRow = new QHBoxLayout;
  picRow->addWidget(EditPic, 1);
  picRow->addWidget(BtnBrowse);
  auto* modeRow = new QHBoxLayout;
  modeRow->addWidget(Rabtnadd);
  modeRow->addWidget(RabtnInsert);
  modeRow->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(BtnAdd);
  buttons->addWidget(BtnCancel);

  // Below the caption the common dialog puts first, above its closing stretch.
  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  int at = 1;
  layout->insertWidget(at++, picLabel);
  layout->insertLayout(at++, picRow);
  layout->insertLayout(at++, modeRow);
  layout->insertWidget(at++, GroupPlacement);
  layout->addLayout(buttons);
  resize(420, 260);

  connect(BtnBrowse, &QPushButton::clicked, this,
          [this] { Guarded([this] { BtnBrowseClick(); }); });
  connect(BtnAdd, &QPushButton::clicked, this, [this] { Guarded([this] { BtnAddClick(); }); });
  connect(BtnCancel, &QPushButton::clicked, this,
          [this] { Guarded([this] { BtnCancelClick(); }); });
}

void TFormaddone::BtnBrowseClick() {
  // Every picture format the loader reads.
  OpenPictureDialog1.Filter = PictureFilter();
  if (OpenPictureDialog1.Execute(this)) EditPic->setText(OpenPictureDialog1.FileName);
  QCoreApplication::processEvents();
}

void TFormaddone::BtnCancelClick() {
  reject();
}

void TFormaddone::BtnAddClick() {
  if (Running()) return;
  if (EditPic->text().isEmpty()) {
    FormMain.showErrMessage(kChoosePicture);
    return;
  }
  // A file that cannot be read raises an error the guard shows; nothing is written and
  // the dialog stays open.
  Image1.Load(EditPic->text());
  {
    TRun run(*this, {BtnAdd, BtnBrowse});
    Run();
  }
  TakeCloseRequest();  // the dialog closes anyway
  accept();
}

void TFormaddone::Run() {
  // Whatever number the fields give, stored in 16 bits.
  const int16_t x = int16_t(ParseInteger(editx->text()).value);
  const int16_t y = int16_t(ParseInteger(EDITy->text()).value);
  TJOV& jov = FormMain.Jov();
  QString error;
  bool added;
  if (Rabtnadd->isChecked()) {
    added = jov.AppendImage(Image1.Picture(), x, y, &error);
  } else {
    try {
      InSert(jov, Image1.Picture(), x, y, FormMain.CurrentIndex());
      added = true;
    } catch (const EJovError& e) {
      added = false;
      error = e.Message();
    }
  }
  FormMain.ShowLibraryChanged();
  if (added)
    FormMain.showMessage(kAdded);
  else
    FormMain.showErrMessage(kNotAdded + QLatin1Char('\n') + error);
}
