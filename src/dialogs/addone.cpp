#include "dialogs/addone.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include "common/parseinteger.h"
#include "library/myjov.h"

TFormaddone::TFormaddone(TDialogHost& host, QWidget* parent)
    : TJovDialog(host, parent, QStringLiteral("添加图片"), QStringLiteral("Add Image")) {
  AddRow(new QLabel(QStringLiteral("Image To Add:"), this));
  AddRow(MakePathRow(this, "EditPic", EditPic, BtnBrowse));
  Rabtnadd = Named<QRadioButton>("Rabtnadd", QStringLiteral("Add"), this);
  RabtnInsert = Named<QRadioButton>("RabtnInsert", QStringLiteral("Insert"), this);
  Rabtnadd->setChecked(true);
  auto* modeRow = new QHBoxLayout;
  modeRow->addWidget(Rabtnadd);
  modeRow->addWidget(RabtnInsert);
  modeRow->addStretch(1);
  AddRow(modeRow);
  AddRow(CreatePlacementGroup());
  AddRow(MakeProgressRows(ProgressBar1));
  AddClosingRow(MakeButtonRow(this, QStringLiteral("Add"), "BtnAdd", BtnAdd));
  resize(420, 260);
  OnClick(BtnBrowse, &TFormaddone::BtnBrowseClick);
  OnClick(BtnAdd, &TFormaddone::BtnAddClick);
}

QGroupBox* TFormaddone::CreatePlacementGroup() {
  auto* group = Named<QGroupBox>("GroupPlacement", QStringLiteral("Placement"), this);
  auto* layout = new QGridLayout(group);
  auto field = [group, layout](const QString& label, const char* name, int column) {
    auto* edit = Named<QLineEdit>(name, QStringLiteral("0"), group);
    auto* caption = new QLabel(label, group);
    caption->setBuddy(edit);
    layout->addWidget(caption, 0, column);
    layout->addWidget(edit, 0, column + 1);
    return edit;
  };
  editx = field(QStringLiteral("X："), "editx", 0);
  EDITy = field(QStringLiteral("Y："), "EDITy", 2);
  return group;
}

void TFormaddone::BtnBrowseClick() {
  // Every picture format the loader reads.
  OpenPictureDialog1.Filter = PictureFilter();
  if (OpenPictureDialog1.Execute(this)) EditPic->setText(OpenPictureDialog1.FileName);
  QCoreApplication::processEvents();
}

void TFormaddone::BtnAddClick() {
  if (Running()) return;
  TAddRequest request;
  request.picturePath = EditPic->text();
  request.insert = RabtnInsert->isChecked();
  request.index = Host.CurrentIndex();
  // Whatever number the fields give, stored in 16 bits.
  request.x = int16_t(ParseInteger(editx->text()).value);
  request.y = int16_t(ParseInteger(EDITy->text()).value);
  if (Refused(request.Validate(Host.Jov()))) return;
  // A file that cannot be read raises an error the guard shows; nothing is written and
  // the dialog stays open.
  const TPicture& picture = Image1.Load(request.picturePath);
  const TOutcome outcome =
      RunRequest(TRunTarget::Change, {BtnAdd, BtnBrowse, Rabtnadd, RabtnInsert, editx, EDITy},
                 [&](TJOV* jov, TOperationDelegate* d) { return request.Run(*jov, picture, d); });
  ProgressBar1->hide();
  Host.Report(outcome);
  TakeCloseRequest();  // the dialog closes anyway
  accept();
}
