#include "widgets/runbox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/progressview.h"

TRunBox::TRunBox(QWidget* window) : QDialog(window) {
  setObjectName(QStringLiteral("RunBox"));
  setWindowModality(Qt::WindowModal);
  what_ = new QLabel(this);
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("ProgressBar1"));
  bar_->setTextVisible(false);
  rate_ = new QLabel(this);
  rate_->setObjectName(QStringLiteral("LabelRate"));
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("BtnCancel"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(what_);
  layout->addWidget(bar_);
  layout->addWidget(rate_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  view_ = new TProgressView(bar_, rate_, this);
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (run_ != nullptr) run_->Cancel();
  });
  resize(360, 120);
}

TOutcome TRunBox::Run(TWorkerRun& run, TJOV& window, TRunTarget target, const QString& what,
                      const TWorkerRun::Body& body) {
  run_ = &run;
  what_->setText(what);
  setWindowTitle(what);
  bar_->setRange(0, 0);
  const QMetaObject::Connection reports =
      connect(&run, &TWorkerRun::Progressed, view_, &TProgressView::Show);
  view_->Start();
  show();
  struct TEnd {
    TRunBox* box;
    QMetaObject::Connection reports;
    ~TEnd() {
      QObject::disconnect(reports);
      box->view_->Stop();
      box->run_ = nullptr;
      box->hide();
      // The keys go back to the window.
      if (QWidget* window = box->parentWidget()) window->activateWindow();
    }
  } end{this, reports};
  return run.Run(window, target, body);
}

void TRunBox::reject() {
  if (run_ == nullptr || !run_->Running()) return QDialog::reject();
  if (!AskToStop || AskToStop()) run_->Cancel();
}
