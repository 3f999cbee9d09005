// The main window's work beyond its documented buttons: runs of its own commands off the
// window's thread, questions, the animation saved as a GIF, the clipboard, dropped
// pictures and the placement keys.

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

#include "common/parseinteger.h"
#include "editing/undo.h"
#include "viewer/clipboard.h"
#include "viewer/droppictures.h"
#include "viewer/mail.h"
#include "viewer/nudge.h"
#include "widgets/guard.h"
#include "widgets/runbox.h"

namespace {

// The rate of a GIF saved at "max": 2 hundredths of a second a frame, the shortest delay
// that viewers of GIF files keep.
constexpr int kGifMaxFps = 50;

}  // namespace

// ---------------------------------------------------------------------------------------
// Questions and runs

int TFormMain::Choose(const QString& text, const QStringList& buttons) {
  if (ChoiceHook) return ChoiceHook(text, buttons);
  QWidget* owner = QApplication::activeModalWidget();
  QMessageBox box(owner != nullptr ? owner : this);
  box.setWindowTitle(QStringLiteral("消息！"));
  box.setIcon(QMessageBox::Question);
  box.setText(text);
  QList<QAbstractButton*> added;
  for (const QString& caption : buttons) added << box.addButton(caption, QMessageBox::AcceptRole);
  // The last answer is the one of closing the box.
  if (!added.isEmpty()) box.setEscapeButton(added.back());
  box.exec();
  return int(added.indexOf(box.clickedButton()));
}

bool TFormMain::Ask(const QString& text) {
  return Choose(text, {QStringLiteral("Yes"), QStringLiteral("No")}) == 0;
}

TOutcome TFormMain::RunOffThread(TRunTarget target, const QString& what,
                                 const TWorkerRun::Body& body) {
  nudge_->Flush();
  struct TEnd {
    TFormMain* window;
    TRunTarget target;
    ~TEnd() {
      if (target == TRunTarget::Change) Guarded([this] { window->ShowLibraryChanged(); });
    }
  } end{this, target};
  return RunBox->Run(*worker_, *jov_, target, what, body);
}

// ---------------------------------------------------------------------------------------
// Pictures into the library

void TFormMain::PutPicture(const QString& path, bool insert) {
  if (Busy()) return;
  TImportAtRequest replace;
  replace.index = currentIndex_;
  replace.picturePath = path;
  TAddRequest add;
  add.picturePath = path;
  add.insert = true;
  add.index = currentIndex_;
  // Every outcome, a refusal too, is reported in the information box.
  if (const TValidation refusal = insert ? add.Validate(*jov_) : replace.Validate(*jov_))
    return Refuse(*refusal, TBox::Information);
  // A file that cannot be read raises an error that the guard shows.
  const TPicture& picture = PictureLoader.Load(path);
  const TOutcome outcome = RunOffThread(
      TRunTarget::Change, insert ? QStringLiteral("Insert") : QStringLiteral("Import At"),
      [&](TJOV* jov, TOperationDelegate* d) {
        return insert ? add.Run(*jov, picture, d) : replace.Run(*jov, picture, d);
      });
  Report(outcome, TBox::Information);
}

void TFormMain::DropOnPreview(const QString& file) {
  const int choice =
      Choose(QStringLiteral("%1: over image %2, or inserted before it?")
                 .arg(QFileInfo(file).fileName())
                 .arg(currentIndex_),
             {QStringLiteral("Import At"), QStringLiteral("Insert"), QStringLiteral("Cancel")});
  if (choice == 0 || choice == 1) PutPicture(file, choice == 1);
}

void TFormMain::DropOnGrid(const TDroppedPictures& dropped, int cell) {
  TDialogFill fill;
  // Before the image of the cell; past the last image, after it.
  fill.insertAt = cell < 0 ? jov_->ImageCount() : std::min(cell, jov_->ImageCount());
  std::unique_ptr<QTemporaryDir> linked;
  if (!dropped.folder.isEmpty()) {
    fill.folder = dropped.folder;
    fill.format = FolderFormat(dropped.folder);
  } else {
    linked = std::make_unique<QTemporaryDir>();
    fill.format = LinkIntoFolder(dropped.files, linked->path());
    fill.folder = linked->path();
  }
  ShowDialog(TEditingDialog::BatchImport, fill);
}

void TFormMain::CopyClick() {
  if (!jov_->IsOpen() || currentIndex_ < 0 || currentIndex_ >= jov_->ImageCount()) return;
  QGuiApplication::clipboard()->setMimeData(ImageMimeData(*jov_, currentIndex_));
}

void TFormMain::PasteClick(bool insert) {
  if (!btninput->isEnabled() || Busy()) return;
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  QTemporaryDir folder;
  const QString path = data != nullptr ? SaveClipboardPicture(*data, folder.path()) : QString();
  if (path.isEmpty()) return;
  const QString question = insert
                               ? QStringLiteral("Insert the picture on the clipboard before image %1?")
                               : QStringLiteral("Put the picture on the clipboard over image %1?");
  if (Choose(question.arg(currentIndex_), {QStringLiteral("OK"), QStringLiteral("Cancel")}) == 0)
    PutPicture(path, insert);
}

// ---------------------------------------------------------------------------------------
// Undo and redo

void TFormMain::StepHistory(bool redo) {
  if (Busy()) return;
  const THistoryStepRequest request{redo};
  if (const TValidation refusal = request.Validate(*jov_)) return Refuse(*refusal);
  // Quiet when done: the window shows the library as the step left it, and the buttons'
  // tooltips name the next steps.
  const TOutcome outcome =
      RunOffThread(TRunTarget::Change, redo ? QStringLiteral("Redo") : QStringLiteral("Undo"),
                   [&](TJOV* jov, TOperationDelegate* d) { return request.Run(*jov, d); });
  if (!outcome.Done()) Report(outcome);
}

void TFormMain::ShowHistorySteps() {
  for (const auto& [button, role, caption] :
       {std::tuple(BtnUndo, THistoryRole::Undo, QStringLiteral("Undo")),
        std::tuple(BtnRedo, THistoryRole::Redo, QStringLiteral("Redo"))}) {
    THistoryStep step;
    // A library that cannot be changed, or whose history cannot be read, offers none.
    if (!THistoryStepRequest{}.Validate(*jov_)) {
      try {
        step = NextStep(*jov_, role);
      } catch (const std::exception&) {
        step = {};
      }
    }
    // A step the history refuses is not offered.  One that a change by another program
    // made refused since the last look stays offered, and its run says why.
    button->setEnabled(step.at != 0 && !step.entry.refused);
    button->setToolTip(step.at != 0 ? caption + QStringLiteral(": ") + step.entry.what : QString());
  }
}

// ---------------------------------------------------------------------------------------
// Placements moved by keys

void TFormMain::NudgeShown(int dx, int dy) {
  if (!btnx->isEnabled() || !jov_->IsOpen() || Busy()) return;
  if (currentIndex_ < 0 || currentIndex_ >= jov_->ImageCount()) return;
  // The placement as stored now, unless a burst of presses is still being gathered.
  jov_->ImageAt(currentIndex_);
  nudge_->Move(currentIndex_, jov_->px(), jov_->py(), dx, dy);
  FillInfo(currentIndex_);
}

void TFormMain::WriteNudge(int index, int x, int y) {
  TPlacementRequest request;
  request.index = index;
  request.xText = QString::number(x);
  request.yText = QString::number(y);
  if (const TValidation refusal = request.Validate(*jov_)) return Refuse(*refusal);
  const TOutcome outcome = request.Run(*jov_);
  ShowHistorySteps();
  if (!outcome.Done()) Report(outcome);
}

int TFormMain::ShownPx() const {
  const std::optional<QPoint> pending = nudge_->Pending(currentIndex_);
  return pending ? pending->x() : jov_->px();
}

int TFormMain::ShownPy() const {
  const std::optional<QPoint> pending = nudge_->Pending(currentIndex_);
  return pending ? pending->y() : jov_->py();
}

// ---------------------------------------------------------------------------------------
// The animation preview and the grid's marked range

int TFormMain::LoopEnd() const {
  const int last = jov_->ImageCount() - 1;
  const TParsedInteger to = ParseInteger(EditLoopTo->text());
  return to.ok() ? std::min(to.value, last) : last;
}

void TFormMain::BtnSaveGifClick() {
  if (!jov_->IsOpen()) return;
  SaveGifDialog.Title = QStringLiteral("Save Animation To");
  SaveGifDialog.Filter = QStringLiteral("GIF (*.gif)");
  SaveGifDialog.DefaultExt = QStringLiteral(".gif");
  SaveGifDialog.FileName = QFileInfo(jov_->FileName()).completeBaseName() + QStringLiteral(".gif");
  if (!SaveGifDialog.Execute(this)) return;
  // What Play shows: the loop range, its rate, and the placements when they are applied.
  TSharePictureRequest request;
  request.kind = TSharePictureRequest::Kind::Animation;
  request.path = SaveGifDialog.FileName;
  request.beginText = EditLoopFrom->text().isEmpty() ? QString::number(currentIndex_)
                                                     : EditLoopFrom->text();
  request.endText = EditLoopTo->text().isEmpty() ? QString::number(jov_->ImageCount() - 1)
                                                 : EditLoopTo->text();
  request.fps = SpinFps->value() > 0 ? SpinFps->value() : kGifMaxFps;
  request.plays = CheckLoop->isChecked() ? 0 : 1;
  request.placement = checkboxXY->isChecked();
  if (const TValidation refusal = request.Validate(*jov_)) return Refuse(*refusal);
  Report(RunOffThread(TRunTarget::Read, QStringLiteral("Save GIF"),
                      [&](TJOV* jov, TOperationDelegate* d) { return request.Run(*jov, d); }));
}

TDialogFill TFormMain::MarkedRangeFill() const {
  TDialogFill fill;
  fill.range = DrawGrid1->MarkedRange(jov_->ImageCount());
  return fill;
}
