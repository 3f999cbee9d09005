#include "dialogs/jovdialog.h"

#include <QLabel>
#include <QVBoxLayout>

#include "viewer/mail.h"

TJovDialog::TJovDialog(TFormMain& main, const QString& caption, const QString& title)
    : QDialog(&main), FormMain(main), caption_(caption) {
  setWindowTitle(title);
  setAccessibleName(caption);
  heading_ = new QLabel(caption, this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(heading_);
  layout->addStretch(1);
  resize(420, 300);
}

int TJovDialog::Execute() {
  const QPoint centre = FormMain.mapToGlobal(FormMain.rect().center());
  move(centre - QPoint(width() / 2, height() / 2));
  return exec();
}
