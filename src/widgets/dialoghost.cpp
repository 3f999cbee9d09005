#include "widgets/dialoghost.h"

#include "editing/requests.h"

void TDialogHost::Show(TBox box, const QString& text) {
  if (box == TBox::Information)
    showMessage(text);
  else
    showErrMessage(text);
}

void TDialogHost::Refuse(const TRefusal& refusal, TBox box) {
  Show(box, refusal.message.isEmpty() ? refusal.detail : refusal.message);
}

void TDialogHost::Report(const TOutcome& outcome, TBox failureBox) {
  if (outcome.Done())
    showMessage(outcome.message);
  else if (outcome.kind == TOutcome::Kind::Refused)
    Refuse(TRefusal{outcome.message, outcome.field, outcome.reason}, failureBox);
  else
    Show(failureBox, outcome.Text());
}
