#include "widgets/filedialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QToolButton>

std::function<bool(TOpenDialog&)> TOpenDialog::ExecuteHook;
std::function<bool(TSaveDialog&)> TSaveDialog::ExecuteHook;
std::function<bool(TFolderPicker&)> TFolderPicker::ExecuteHook;

bool TOpenDialog::Execute(QWidget* parent) {
  if (ExecuteHook) return ExecuteHook(*this);
  const QString dir = FileName.isEmpty() ? QString() : QFileInfo(FileName).absolutePath();
  const QString chosen = QFileDialog::getOpenFileName(parent, Title, dir, Filter);
  if (chosen.isEmpty()) return false;
  FileName = chosen;
  return true;
}

namespace {

// Qt's own dialog everywhere: it matches patterns without regard to case and behaves
// the same on every desktop.
void UseOwnDialog(QFileDialog& dialog) {
  dialog.setOption(QFileDialog::DontUseNativeDialog);
}

}  // namespace

bool TSaveDialog::Execute(QWidget* parent) {
  if (ExecuteHook) return ExecuteHook(*this);
  QFileDialog dialog(parent, Title);
  UseOwnDialog(dialog);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(Filter);
  const QFileInfo suggested(FileName);
  if (suggested.isAbsolute())
    dialog.setDirectory(suggested.absolutePath());
  else if (!folder_.isEmpty())
    dialog.setDirectory(folder_);
  dialog.selectFile(suggested.fileName());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  FileName = dialog.selectedFiles().constFirst();
  SelectedFilter = dialog.selectedNameFilter();
  // A name typed without extension takes the chosen filter's ("PNG (*.png)" gives .png),
  // or DefaultExt.
  if (QFileInfo(FileName).suffix().isEmpty()) {
    static const QRegularExpression pattern(QStringLiteral("\\(\\*(\\.\\w+)"));
    const QRegularExpressionMatch match = pattern.match(SelectedFilter);
    FileName += match.hasMatch() ? match.captured(1) : DefaultExt;
  }
  folder_ = QFileInfo(FileName).absolutePath();
  return true;
}

bool TFolderPicker::Execute(QWidget* parent) {
  if (ExecuteHook) return ExecuteHook(*this);
  QFileDialog dialog(parent, Prompt);
  UseOwnDialog(dialog);
  dialog.setObjectName(QStringLiteral("FolderPicker"));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setLabelText(QFileDialog::LookIn, Prompt);
  dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Folder:"));
  dialog.setLabelText(QFileDialog::Accept, QStringLiteral("OK"));
  if (!Folder.isEmpty() && QFileInfo(Folder).isDir()) dialog.setDirectory(Folder);
  // The dialog's own new-folder button, with its words beside the icon.
  if (auto* button = dialog.findChild<QToolButton*>(QStringLiteral("newFolderButton"))) {
    button->setText(QStringLiteral("New folder"));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setMaximumWidth(QWIDGETSIZE_MAX);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  Folder = dialog.selectedFiles().constFirst();
  return true;
}
