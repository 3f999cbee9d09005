#include "widgets/inputdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TInputDialog::TInputDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("InputDialog"));
  prompt_ = new QLabel(this);
  edit_ = new QLineEdit(this);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt_);
  layout->addWidget(edit_);
  layout->addLayout(buttons);
  setMinimumWidth(300);
}

int TInputDialog::Execute() {
  setWindowTitle(Caption);
  prompt_->setText(Prompt);
  edit_->setText(Value);
  edit_->selectAll();
  edit_->setFocus();
  // Centred on the main window each time it is shown.
  if (QWidget* owner = parentWidget()) {
    adjustSize();
    const QPoint centre = owner->mapToGlobal(owner->rect().center());
    move(centre - QPoint(width() / 2, height() / 2));
  }
  if (exec() != QDialog::Accepted) return mrCancel;
  Value = edit_->text();
  return mrOk;
}
