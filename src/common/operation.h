#pragma once

// What a long operation reports to, and asks, as it goes: how far it has come, and
// whether it should stop.  The core never shows anything and never pumps window
// messages; a caller that wants a progress bar, a Cancel button or a terminal bar gives
// a delegate, and runs the operation on a thread of its own when the window must stay
// alive meanwhile.  How the operation ended is its result: done, failed with a reason,
// or cancelled (the change rolled back).

#include <QString>
#include <cstdint>
#include <functional>

#include "common/errors.h"

class TOperationDelegate {
 public:
  virtual ~TOperationDelegate() = default;
  // done of total steps so far (images, or bytes moved); called before the first step
  // and after the last.  It may be called from the thread the operation runs on.
  virtual void Progress(int64_t done, int64_t total) {
    (void)done;
    (void)total;
  }
  // The same, counted in bytes (records moved) rather than images.
  virtual void ProgressInBytes(int64_t done, int64_t total) { Progress(done, total); }
  // Asked between steps.  True stops the operation at that step with ECancelled; a change
  // then rolls back.  Once a change has reached its commit point it is no longer asked.
  virtual bool CancelRequested() { return false; }
  // A remark for the user that does not stop the operation.
  virtual void Note(const QString& text) { (void)text; }
  // Asked before a change goes on that cannot be undone (text says why): false stops it
  // with ECancelled.  By default the text is noted and the change goes on.
  virtual bool ConfirmWithoutUndo(const QString& text) {
    Note(text);
    return true;
  }
};

// Progress reported by a function (tests, the command line's bar).
class TProgressFunction final : public TOperationDelegate {
 public:
  explicit TProgressFunction(std::function<void(int64_t, int64_t)> f) : f_(std::move(f)) {}
  void Progress(int64_t done, int64_t total) override {
    if (f_) f_(done, total);
  }

 private:
  std::function<void(int64_t, int64_t)> f_;
};

// Stops with ECancelled when the delegate asks for it; nothing without a delegate.
inline void CheckCancel(TOperationDelegate* delegate) {
  if (delegate != nullptr && delegate->CancelRequested()) throw ECancelled();
}
// Reports a step, then checks for a cancel.
inline void Step(TOperationDelegate* delegate, int64_t done, int64_t total) {
  if (delegate == nullptr) return;
  delegate->Progress(done, total);
  CheckCancel(delegate);
}
// Reports progress without asking for a cancel: after a change's commit point.
inline void Report(TOperationDelegate* delegate, int64_t done, int64_t total) {
  if (delegate != nullptr) delegate->Progress(done, total);
}
inline void StepInBytes(TOperationDelegate* delegate, int64_t done, int64_t total) {
  if (delegate == nullptr) return;
  delegate->ProgressInBytes(done, total);
  CheckCancel(delegate);
}
