#include "dialogs/newlib.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "editing/messages.h"

TFormnew::TFormnew(TDialogHost& host, QWidget* parent)
    : TJovDialog(host, parent, QStringLiteral("创建新的数据文件"),
                 QStringLiteral("Create New File")) {
  FolderPicker.Prompt = QStringLiteral("Set Folder:");
  SaveDialog1.Title = QStringLiteral("Save As File");
  SaveDialog1.Filter = QStringLiteral("jov (*.jov)");
  SaveDialog1.DefaultExt = QStringLiteral(".jov");
  AddRow(CreateFields());
  AddRow(CreateOptionGroups());
  AddRow(MakeProgressRows(ProgressBar1));
  AddClosingRow(MakeButtonRow(this, QStringLiteral("Create"), "BtnCreate", BtnCreate));
  resize(460, 280);
  OnClick(BtnPicPath, &TFormnew::BtnPicPathClick);
  OnClick(BtnFileName, &TFormnew::BtnFileNameClick);
  OnClick(BtnCreate, &TFormnew::BtnCreateClick);
}

QGridLayout* TFormnew::CreateFields() {
  auto* fields = new QGridLayout;
  int row = 0;
  for (auto [label, name, edit, browse] :
       {std::tuple(QStringLiteral("ImagePath:"), "EditPicPath", &EditPicPath, &BtnPicPath),
        std::tuple(QStringLiteral("Filename:"), "EditFileName", &EditFileName, &BtnFileName)}) {
    auto* caption = new QLabel(label, this);
    *edit = MakePathField(this, name);
    *browse = MakeBrowseButton(this);
    caption->setBuddy(*edit);
    fields->addWidget(caption, row, 0);
    fields->addWidget(*edit, row, 1);
    fields->addWidget(*browse, row, 2);
    ++row;
  }
  BtnPicPath->setObjectName(QStringLiteral("BtnPicPath"));
  BtnFileName->setObjectName(QStringLiteral("BtnFileName"));
  fields->addWidget(ComboFormat = MakeFormatChoice(this), 0, 3);
  setTabOrder(BtnPicPath, ComboFormat);
  setTabOrder(ComboFormat, EditFileName);
  return fields;
}

QHBoxLayout* TFormnew::CreateOptionGroups() {
  // Two independent choices: where placements come from, and which palette.
  auto* placement = Named<QGroupBox>("GroupPlacement", QStringLiteral("Placement"), this);
  RbFromFile = Named<QRadioButton>("RbFromFile", QStringLiteral("From File"), placement);
  RbUseNew = Named<QRadioButton>("RbUseNew", QStringLiteral("Use New:"), placement);
  editxy = Named<QLineEdit>("editxy", QStringLiteral("0,0"), placement);
  RbFromFile->setChecked(true);
  auto* placementLayout = new QGridLayout(placement);
  placementLayout->addWidget(RbFromFile, 0, 0, 1, 2);
  placementLayout->addWidget(RbUseNew, 1, 0);
  placementLayout->addWidget(editxy, 1, 1);

  auto* images = Named<QGroupBox>("GroupImages", QStringLiteral("Images"), this);
  RbBoardSys = Named<QRadioButton>("RbBoardSys", QStringLiteral("System?"), images);
  RbBoardBmp = Named<QRadioButton>("RbBoardBmp", QStringLiteral("Bmp??"), images);
  RbBoardSys->setChecked(true);
  auto* imagesLayout = new QVBoxLayout(images);
  imagesLayout->addWidget(RbBoardSys);
  imagesLayout->addWidget(RbBoardBmp);

  auto* groups = new QHBoxLayout;
  groups->addWidget(placement, 1);
  groups->addWidget(images, 1);
  return groups;
}

void TFormnew::BtnPicPathClick() {
  if (FolderPicker.Execute(this)) EditPicPath->setText(FolderPicker.Folder);
}

void TFormnew::BtnFileNameClick() {
  if (SaveDialog1.Execute(this)) EditFileName->setText(SaveDialog1.FileName);
}

void TFormnew::BtnCreateClick() {
  if (Running()) return;
  TCreateRequest request;
  request.folder = EditPicPath->text();
  request.dataPath = EditFileName->text();
  request.paletteFromFirstBitmap = RbBoardBmp->isChecked();
  if (RbUseNew->isChecked()) request.placement = ParsePlacementText(editxy->text());
  request.format = ChosenFormat(ComboFormat);
  if (Refused(request.Validate())) return;
  const TOutcome outcome =
      RunRequest(TRunTarget::Outside,
                 {BtnCreate, BtnPicPath, BtnFileName, ComboFormat, RbFromFile, RbUseNew, editxy,
                  RbBoardSys, RbBoardBmp},
                 [&](TJOV*, TOperationDelegate* d) { return request.Run(d); });
  ProgressBar1->hide();
  TakeCloseRequest();  // the dialog closes anyway
  // After a failure the old files, if any, stand as they were.
  TOutcome shown = outcome;
  if (outcome.Done()) {
    Host.ShowLibraryReplaced(request.dataPath);
    shown.message += QLatin1Char('\n') + msg::kHistoryStartsAnew;
  }
  Host.Report(shown);
  accept();
}
