#include "dialogs/jovdialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
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

TJovDialog::TRun::TRun(TJovDialog& dialog, std::initializer_list<QWidget*> controls)
    : dialog_(dialog), controls_(controls) {
  dialog_.running_ = true;
  for (QWidget* w : controls_) w->setEnabled(false);
}

TJovDialog::TRun::~TRun() {
  dialog_.running_ = false;
  for (QWidget* w : controls_) w->setEnabled(true);
}

void TJovDialog::reject() {
  if (running_) {
    closeRequested_ = true;
    return;
  }
  QDialog::reject();
}

QGroupBox* MakeRangeGroup(const QString& title, const QString& beginLabel, const QString& endLabel,
                          QWidget* parent, QLineEdit*& begin, QLineEdit*& end) {
  auto* group = new QGroupBox(title, parent);
  begin = new QLineEdit(QStringLiteral("0"), group);
  end = new QLineEdit(QStringLiteral("0"), group);
  auto* layout = new QGridLayout(group);
  int row = 0;
  for (QLineEdit* field : {begin, end}) {
    auto* label = new QLabel(row == 0 ? beginLabel : endLabel, group);
    label->setBuddy(field);
    layout->addWidget(label, row, 0);
    layout->addWidget(field, row, 1);
    ++row;
  }
  return group;
}
