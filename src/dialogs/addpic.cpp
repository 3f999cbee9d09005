#include "dialogs/addpic.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "editing/messages.h"
#include "library/myjov.h"

namespace {

const QString kPicturesFolderLabel = QStringLiteral("图片所在文件夹：");
const QString kPlacementsFolderLabel = QStringLiteral("坐标所在文件夹：");

}  // namespace

TFormadd::TFormadd(TDialogHost& host, QWidget* parent)
    : TJovDialog(host, parent, QStringLiteral("批量导入图片"),
                 QStringLiteral("Import From Folder")) {
  FolderPicker.Prompt = QStringLiteral("Import From Folder:");
  Controls = new QWidget(this);
  Label1 = Named<QLabel>("Label1", QStringLiteral("Folder To Import:"), Controls);
  QHBoxLayout* folderRow = MakePathRow(Controls, "EditPicPath", EditPicPath, BtnBrowse);
  folderRow->addWidget(ComboFormat = MakeFormatChoice(Controls));
  QHBoxLayout* modeGroups = CreateModeGroups();
  GroupRange = MakeRangeGroup(QStringLiteral("Begin/End"), "GroupRange", QStringLiteral("Begin:"),
                              QStringLiteral("End:"), Controls, editBegin, EditEnd);
  GroupRange->setEnabled(false);

  auto* controls = new QVBoxLayout(Controls);
  controls->setContentsMargins(0, 0, 0, 0);
  controls->addWidget(Label1);
  controls->addLayout(folderRow);
  controls->addLayout(modeGroups);
  controls->addWidget(GroupRange);
  controls->addWidget(CreatePlacementGroup());
  AddRow(Controls);
  AddRow(MakeProgressRows(ProgressBar1));
  // Outside the controls a run disables: "Cancel" stops a run.
  AddClosingRow(MakeButtonRow(this, QStringLiteral("Import"), "BtnImport", BtnImport));
  resize(460, 360);
  FocusOn(TField::Begin, editBegin);
  FocusOn(TField::End, EditEnd);

  for (QRadioButton* b : {RabtnAdd, RabtnInsert, RabtnReplace})
    OnClick(b, &TFormadd::RabtnInsertClick);
  for (QRadioButton* b : {RabtnAll, RabtnPic, Rabtnxy}) OnClick(b, &TFormadd::RabtnPicClick);
  OnClick(BtnBrowse, &TFormadd::BtnBrowseClick);
  OnClick(BtnImport, &TFormadd::BtnImportClick);
}

QHBoxLayout* TFormadd::CreateModeGroups() {
  auto* groups = new QHBoxLayout;
  groups->addWidget(MakeRadioGroup(QStringLiteral("Mode"), "GroupMode", Controls,
                                   {{"All", "RabtnAll", &RabtnAll},
                                    {"Pic", "RabtnPic", &RabtnPic},
                                    {"X/Y", "Rabtnxy", &Rabtnxy}}));
  groups->addWidget(MakeRadioGroup(QStringLiteral("Modes"), "GroupModes", Controls,
                                   {{"Add", "RabtnAdd", &RabtnAdd},
                                    {"Insert", "RabtnInsert", &RabtnInsert},
                                    {"Replace", "RabtnReplace", &RabtnReplace}}));
  return groups;
}

QGroupBox* TFormadd::CreatePlacementGroup() {
  GroupBoxxy = MakeRadioGroup(
      QStringLiteral("Placement Uses"), "GroupBoxxy", Controls,
      {{"From Folder", "RabtnFile", &RabtnFile}, {"New Like:", "RabtnNewLike", &RabtnNewLike}});
  editxy = Named<QLineEdit>("editxy", QStringLiteral("0,0"), GroupBoxxy);
  GroupBoxxy->layout()->addWidget(editxy);
  return GroupBoxxy;
}

void TFormadd::Prepare() {
  EditEnd->setText(QString::number(Host.Jov().ImageCount() - 1));
  EditPicPath->clear();
}

void TFormadd::Fill(const TDialogFill& fill) {
  if (fill.range) {
    editBegin->setText(QString::number(fill.range->first));
    EditEnd->setText(QString::number(fill.range->second));
  }
  if (!fill.folder.isEmpty()) EditPicPath->setText(fill.folder);
  if (fill.format) ComboFormat->setCurrentIndex(*fill.format == TPictureFileFormat::Png ? 1 : 0);
  if (!fill.insertAt) return;
  // Whole images, inserted before the image given, or appended after the last one.
  RabtnAll->setChecked(true);
  RabtnPicClick();
  const bool append = *fill.insertAt >= Host.Jov().ImageCount();
  (append ? RabtnAdd : RabtnInsert)->setChecked(true);
  if (!append) editBegin->setText(QString::number(*fill.insertAt));
  RabtnInsertClick();
}

void TFormadd::RabtnInsertClick() {
  GroupRange->setEnabled(!RabtnAdd->isChecked());
  EditEnd->setEnabled(RabtnReplace->isChecked());
}

void TFormadd::RabtnPicClick() {
  // Placement files are text files whatever the pictures are.
  ComboFormat->setEnabled(!Rabtnxy->isChecked());
  if (RabtnAll->isChecked()) {
    for (QWidget* w : std::initializer_list<QWidget*>{RabtnAdd, RabtnInsert, RabtnReplace,
                                                      EditPicPath, BtnBrowse, GroupBoxxy})
      w->setEnabled(true);
    Label1->setText(kPicturesFolderLabel);
    return;
  }
  GroupRange->setEnabled(true);
  RabtnReplace->setChecked(true);
  RabtnInsertClick();
  RabtnAdd->setEnabled(false);
  RabtnInsert->setEnabled(false);
  RabtnReplace->setEnabled(true);
  GroupBoxxy->setEnabled(Rabtnxy->isChecked());
  Label1->setText(Rabtnxy->isChecked() ? kPlacementsFolderLabel : kPicturesFolderLabel);
}

void TFormadd::BtnBrowseClick() {
  if (FolderPicker.Execute(this)) EditPicPath->setText(FolderPicker.Folder);
}

TBatchImportRequest TFormadd::Request() const {
  using Mode = TBatchImportRequest::Mode;
  TBatchImportRequest request;
  if (RabtnPic->isChecked())
    request.mode = Mode::Pixels;
  else if (Rabtnxy->isChecked())
    request.mode = Mode::Placements;
  else
    request.mode = RabtnAdd->isChecked()      ? Mode::Add
                   : RabtnInsert->isChecked() ? Mode::Insert
                                              : Mode::Replace;
  request.folder = EditPicPath->text();
  request.beginText = editBegin->text();
  request.endText = EditEnd->text();
  request.newLike = RabtnNewLike->isChecked();
  request.pair = ParsePlacementText(editxy->text());
  request.format = ChosenFormat(ComboFormat);
  return request;
}

void TFormadd::BtnImportClick() {
  if (Running()) return;
  TBatchImportRequest request = Request();
  const auto outcome = ValidateAndRun(request, TRunTarget::Change, {Controls, BtnImport});
  if (outcome && !outcome->Done() && !RabtnAll->isChecked()) {
    // A file a Pic or X/Y run cannot read stops it: the library is as it was, and the
    // dialog stays open.
    Host.Report(*outcome);
    if (TakeCloseRequest()) QDialog::reject();
    return;
  }
  // The dialog closes after every other run, also after a refusal.
  if (outcome)
    Host.Report(*outcome, TBox::Information);
  else
    Host.showMessage(msg::kBatchImportFailed);
  ProgressBar1->hide();
  ProgressBar1->setValue(0);
  EditPicPath->clear();
  TakeCloseRequest();  // the dialog closes anyway
  accept();
}
