#include "viewer/filedialog.h"

#include <QFileDialog>
#include <QFileInfo>

std::function<bool(TOpenDialog&)> TOpenDialog::ExecuteHook;

bool TOpenDialog::Execute(QWidget* parent) {
  if (ExecuteHook) return ExecuteHook(*this);
  const QString dir = FileName.isEmpty() ? QString() : QFileInfo(FileName).absolutePath();
  const QString chosen = QFileDialog::getOpenFileName(parent, Title, dir, Filter);
  if (chosen.isEmpty()) return false;
  FileName = chosen;
  return true;
}
