#include "widgets/workerrun.h"

#include <QEventLoop>
#include <exception>
#include <memory>
#include <thread>

#include "common/operation.h"
#include "library/myjov.h"
#include "library/oldview.h"

namespace {

TWorkerRun*& CurrentRun() {
  static TWorkerRun* run = nullptr;
  return run;
}

// The library object the body works on: a second one on the window's library, which
// hands the old bytes of a change in place to the window's.  When the window has no
// library open the body gets a closed object, and the request refuses as it does for
// the window.
// The worker's object keeps the history within the window's limit.
TOutcome Work(TJOV& window, const QString& path, int64_t historyLimit, TRunTarget target,
              const TWorkerRun::Body& body, TOperationDelegate& delegate) {
  if (target == TRunTarget::Outside) return body(nullptr, &delegate);
  TJOV worker;
  worker.SetHistoryLimit(historyLimit);
  if (!path.isEmpty()) worker.Open(path);
  if (target == TRunTarget::Change)
    worker.SetOnChangeBegun(
        [&window](std::shared_ptr<const TOldView> view) { window.ShowAsBefore(std::move(view)); });
  return body(&worker, &delegate);
}

}  // namespace

// Runs on the worker thread: reports go to the window's thread, the cancel flag comes
// from it.
class TWorkerRun::Delegate final : public TOperationDelegate {
 public:
  explicit Delegate(TWorkerRun& run) : run_(run) {}
  void Progress(int64_t done, int64_t total) override { run_.Report(done, total, false); }
  void ProgressInBytes(int64_t done, int64_t total) override { run_.Report(done, total, true); }
  bool CancelRequested() override {
    if (StepHook) StepHook();
    return run_.cancel_;
  }
  bool ConfirmWithoutUndo(const QString& text) override { return run_.Confirm(text); }

 private:
  TWorkerRun& run_;
};

TWorkerRun::TWorkerRun(QObject* parent) : QObject(parent) {}

TWorkerRun::~TWorkerRun() {
  if (CurrentRun() == this) CurrentRun() = nullptr;
}

TWorkerRun* TWorkerRun::Current() {
  return CurrentRun();
}

TOutcome TWorkerRun::Run(TJOV& window, TRunTarget target, const Body& body) {
  if (CurrentRun() != nullptr) {
    TOutcome busy;
    busy.kind = TOutcome::Kind::Failed;
    busy.reason = QStringLiteral("another operation is under way");
    return busy;
  }
  CurrentRun() = this;
  running_ = true;
  ended_ = false;
  cancel_ = false;
  {
    std::lock_guard lock(reportMutex_);
    latest_ = {};
  }
  // A change of this run is shown through the window's view of the library as it was
  // (ShowAsBefore): its journal is no sign of another program.
  const bool following = window.FollowsOthers();
  if (target == TRunTarget::Change) window.SetFollowOthers(false);
  const QString path = window.IsOpen() ? window.FileName() : QString();
  const int64_t historyLimit = window.HistoryLimit();
  TOutcome outcome;
  std::exception_ptr error;
  QEventLoop loop;
  quit_ = [&loop] { loop.quit(); };
  Delegate delegate(*this);
  std::thread worker([&] {
    try {
      outcome = Work(window, path, historyLimit, target, body, delegate);
    } catch (...) {
      error = std::current_exception();
    }
    QMetaObject::invokeMethod(
        this, [this] { WorkerEnded(); }, Qt::QueuedConnection);
  });
  if (!ended_) loop.exec();
  // Also when an exit of every loop cut the wait short: the thread ends at its next step,
  // or at the question it waits on.
  if (!ended_) AbandonQuestion();
  worker.join();
  quit_ = nullptr;
  Deliver();
  running_ = false;
  CurrentRun() = nullptr;
  window.SetFollowOthers(following);
  if (error) std::rethrow_exception(error);
  return outcome;
}

void TWorkerRun::Wait() {
  if (!running_ || ended_) return;
  QEventLoop loop;
  connect(this, &TWorkerRun::Finished, &loop, &QEventLoop::quit);
  loop.exec();
}

void TWorkerRun::Report(int64_t done, int64_t total, bool bytes) {
  std::lock_guard lock(reportMutex_);
  latest_ = {done, total, bytes, true};
  if (deliveryWaiting_) return;
  deliveryWaiting_ = true;
  QMetaObject::invokeMethod(
      this, [this] { Deliver(); }, Qt::QueuedConnection);
}

void TWorkerRun::Deliver() {
  decltype(latest_) report;
  {
    std::lock_guard lock(reportMutex_);
    report = latest_;
    latest_.fresh = false;
    deliveryWaiting_ = false;
  }
  if (report.fresh) emit Progressed(report.done, report.total, report.bytes);
}

void TWorkerRun::WorkerEnded() {
  ended_ = true;
  if (quit_) quit_();
  emit Finished();
}

bool TWorkerRun::Answer::Waiting() {
  std::lock_guard lock(mutex);
  return !answered;
}

void TWorkerRun::Answer::Give(bool value) {
  {
    std::lock_guard lock(mutex);
    if (answered) return;
    answered = true;
    yes = value;
  }
  given.notify_all();
}

bool TWorkerRun::Confirm(const QString& text) {
  if (!ConfirmWithoutUndo) return true;
  auto answer = std::make_shared<Answer>();
  {
    std::lock_guard lock(reportMutex_);
    asking_ = answer;
  }
  QMetaObject::invokeMethod(
      this,
      [this, answer, text] {
        // Whatever happens here, the worker gets an answer: a failed question is a No.
        bool yes = false;
        try {
          if (answer->Waiting()) yes = ConfirmWithoutUndo(text);
        } catch (...) {
        }
        answer->Give(yes);
      },
      Qt::QueuedConnection);
  std::unique_lock lock(answer->mutex);
  answer->given.wait(lock, [&] { return answer->answered; });
  const bool yes = answer->yes;
  lock.unlock();
  std::lock_guard reportLock(reportMutex_);
  asking_.reset();
  return yes;
}

void TWorkerRun::AbandonQuestion() {
  cancel_ = true;
  std::shared_ptr<Answer> answer;
  {
    std::lock_guard lock(reportMutex_);
    answer = asking_;
  }
  if (answer) answer->Give(false);
}
