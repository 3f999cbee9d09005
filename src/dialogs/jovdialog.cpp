#include "dialogs/jovdialog.h"

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
#include <limits>
#include <vector>

#include "common/operation.h"
#include "editing/messages.h"
#include "widgets/progressview.h"

namespace {

// The formats in the order of the format choice.
constexpr TPictureFileFormat kFormats[] = {TPictureFileFormat::Bmp, TPictureFileFormat::Png};

// Marks a run under way for its lifetime, however it ends, with the controls given
// disabled.
class TRunMark {
 public:
  TRunMark(bool& running, std::initializer_list<QWidget*> controls)
      : running_(running), controls_(controls) {
    running_ = true;
    for (QWidget* w : controls_) w->setEnabled(false);
  }
  ~TRunMark() {
    running_ = false;
    for (QWidget* w : controls_) w->setEnabled(true);
  }
  TRunMark(const TRunMark&) = delete;
  TRunMark& operator=(const TRunMark&) = delete;

 private:
  bool& running_;
  std::vector<QWidget*> controls_;
};

}  // namespace

TJovDialog::TJovDialog(TDialogHost& host, QWidget* parent, const QString& caption,
                       const QString& title)
    : QDialog(parent), Host(host), caption_(caption), worker_(new TWorkerRun(this)) {
  setWindowTitle(title);
  setAccessibleName(caption);
  worker_->ConfirmWithoutUndo = [this](const QString& text) { return Host.Ask(text); };
  layout_ = new QVBoxLayout(this);
  layout_->addWidget(new QLabel(caption, this));
  layout_->addStretch(1);
  resize(420, 300);
}

std::optional<TOutcome> TJovDialog::Execute(const TDialogFill& fill) {
  Prepare();
  Fill(fill);
  lastOutcome_.reset();
  changesByOthers_ = Host.ChangesByOthers();
  if (QWidget* owner = parentWidget()) {
    const QPoint centre = owner->mapToGlobal(owner->rect().center());
    move(centre - QPoint(width() / 2, height() / 2));
  }
  exec();
  return lastOutcome_;
}

void TJovDialog::AddRow(QWidget* row) {
  layout_->insertWidget(rows_++, row);
}

void TJovDialog::AddRow(QLayout* row) {
  layout_->insertLayout(rows_++, row);
}

void TJovDialog::AddClosingRow(QLayout* row) {
  layout_->addLayout(row);
}

QLineEdit* TJovDialog::MakePathField(QWidget* parent, const char* name) {
  auto* path = Named<QLineEdit>(name, parent);
  path->setReadOnly(true);
  return path;
}

QPushButton* TJovDialog::MakeBrowseButton(QWidget* parent) {
  auto* browse = new QPushButton(QStringLiteral("..."), parent);
  browse->setFixedWidth(28);
  return browse;
}

QHBoxLayout* TJovDialog::MakePathRow(QWidget* parent, const char* name, QLineEdit*& path,
                                     QPushButton*& browse) {
  path = MakePathField(parent, name);
  browse = MakeBrowseButton(parent);
  browse->setObjectName(QStringLiteral("BtnBrowse"));
  auto* row = new QHBoxLayout;
  row->addWidget(path, 1);
  row->addWidget(browse);
  return row;
}

QHBoxLayout* TJovDialog::MakeButtonRow(QWidget* parent, const QString& caption, const char* name,
                                       QPushButton*& run) {
  run = Named<QPushButton>(name, caption, parent);
  run->setDefault(true);
  auto* cancel = Named<QPushButton>("BtnCancel", QStringLiteral("Cancel"), parent);
  ConnectClick(cancel, [this] { CancelClick(); });
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(run);
  row->addWidget(cancel);
  return row;
}

QLayout* TJovDialog::MakeProgressRows(QProgressBar*& bar) {
  bar = progress_ = Named<QProgressBar>("ProgressBar1", this);
  progress_->setTextVisible(false);
  progress_->hide();
  auto* rate = Named<QLabel>("LabelRate", this);
  progressView_ = new TProgressView(progress_, rate, this);
  connect(worker_, &TWorkerRun::Progressed, progressView_, &TProgressView::Show);
  auto* rows = new QVBoxLayout;
  rows->addWidget(progress_);
  rows->addWidget(rate);
  return rows;
}

QComboBox* TJovDialog::MakeFormatChoice(QWidget* parent) {
  auto* choice = Named<QComboBox>("ComboFormat", parent);
  choice->addItems({QStringLiteral("Bitmaps (*.bmp)"), QStringLiteral("PNG (*.png)")});
  return choice;
}

TPictureFileFormat TJovDialog::ChosenFormat(const QComboBox* choice) {
  return kFormats[std::max(0, choice->currentIndex())];
}

void TJovDialog::ConnectClick(QAbstractButton* button, std::function<void()> handler) {
  connect(button, &QAbstractButton::clicked, this,
          [handler = std::move(handler)] { Guarded(handler); });
}

bool TJovDialog::Refused(const TValidation& validation) {
  if (!validation) return false;
  Host.Refuse(*validation);
  if (const auto field = focus_.find(validation->field); field != focus_.end())
    field->second->setFocus();
  return true;
}

TOutcome TJovDialog::RunRequest(TRunTarget target, std::initializer_list<QWidget*> controls,
                                const TWorkerRun::Body& run) {
  // Fields filled from the library as it was (a range, a count) are not run on another
  // library: the user sees why, and runs it again on the library as it now is.
  if (target != TRunTarget::Outside &&
      std::exchange(changesByOthers_, Host.ChangesByOthers()) != changesByOthers_) {
    TOutcome refused;
    refused.kind = TOutcome::Kind::Refused;
    refused.message = msg::kChangedWhileDialogOpen;
    lastOutcome_ = refused;
    return refused;
  }
  TRunMark mark(running_, controls);
  if (progressView_ != nullptr) progressView_->Start();
  // However the run ends, a change leaves the window showing the library as it now is.
  struct TEnd {
    TJovDialog* dialog;
    TRunTarget target;
    ~TEnd() {
      if (dialog->progressView_ != nullptr) dialog->progressView_->Stop();
      if (target == TRunTarget::Change) Guarded([this] { dialog->Host.ShowLibraryChanged(); });
    }
  } end{this, target};
  lastOutcome_ = worker_->Run(Host.Jov(), target, run);
  return *lastOutcome_;
}

void TJovDialog::CancelClick() {
  if (running_)
    worker_->Cancel();
  else
    reject();
}

void TJovDialog::reject() {
  if (!running_) return QDialog::reject();
  if (closeRequested_ || !Host.Ask(kStopRunQuestion)) return;
  closeRequested_ = true;
  worker_->Cancel();
}

void TJovDialog::showEvent(QShowEvent* event) {
  // A bar left standing by a failed run is not shown again.
  if (progress_ != nullptr && !running_) progress_->hide();
  QDialog::showEvent(event);
}

QGroupBox* MakeRangeGroup(const QString& title, const char* name, const QString& beginLabel,
                          const QString& endLabel, QWidget* parent, QLineEdit*& begin,
                          QLineEdit*& end) {
  auto* group = Named<QGroupBox>(name, title, parent);
  begin = Named<QLineEdit>("editBegin", QStringLiteral("0"), group);
  end = Named<QLineEdit>("EditEnd", QStringLiteral("0"), group);
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

QGroupBox* MakeRadioGroup(const QString& title, const char* name, QWidget* parent,
                          std::initializer_list<TRadio> radios) {
  auto* group = Named<QGroupBox>(name, title, parent);
  auto* layout = new QHBoxLayout(group);
  for (const TRadio& radio : radios) {
    *radio.button = Named<QRadioButton>(radio.name, QString::fromUtf8(radio.text), group);
    layout->addWidget(*radio.button);
  }
  (*radios.begin()->button)->setChecked(true);
  return group;
}
