#pragma once

// TWorkerRun: a long operation run on a thread of its own while the window's thread waits
// for it in a local event loop, so that every window keeps painting and answering.
//
// A change never runs on the window's library object: the worker opens a second one on the
// same library and hands the old bytes of every change it makes in place to the window's
// object (ShowAsBefore), which thus shows the library as it was until the change commits
// and the window opens it again.  A run that only reads opens an object of its own too, so
// that the window's fetches and the worker's never share one.  Progress reaches the window
// through queued calls, at most one waiting at a time; a cancel is a flag the operation
// reads between its steps.  A question the operation asks (a change that cannot be undone)
// is answered on the window's thread while the worker waits.  Only one run goes on at a
// time in the program.

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "editing/requests.h"

class TJOV;

// What a run works on.
enum class TRunTarget {
  Change,  // changes the window's library
  Read,    // reads the window's library
  Outside, // no library the window has open (create): the body gets no library object
};

class TWorkerRun : public QObject {
  Q_OBJECT

 public:
  // jov: the worker's library object (null for TRunTarget::Outside).
  using Body = std::function<TOutcome(TJOV* jov, TOperationDelegate* delegate)>;

  explicit TWorkerRun(QObject* parent = nullptr);
  ~TWorkerRun() override;

  // Runs body on a worker thread over the library window shows, and returns its outcome
  // once the thread has ended; meanwhile the window's thread handles its events.  A
  // library that cannot be opened, or a run while another goes on, is a failed outcome.
  // An error the body lets escape is thrown here again.
  TOutcome Run(TJOV& window, TRunTarget target, const Body& body);

  bool Running() const { return running_; }
  // Asks the run to stop at its next step; a change then rolls back.
  void Cancel() { cancel_ = true; }
  bool Cancelling() const { return cancel_; }
  // Handles events until the worker thread has ended (at once when none runs).
  void Wait();

  // The run under way in the program, if any.
  static TWorkerRun* Current();
  // Asked on the window's thread before a change goes on that cannot be undone (text says
  // why); false stops the change with a cancel.  Unset, the change goes on.
  std::function<bool(const QString& text)> ConfirmWithoutUndo;

  // Called on the worker thread at every step, before the operation asks whether to stop
  // (tests slow runs down with it).
  static inline std::function<void()> StepHook;

 signals:
  // done of total steps, in bytes when bytes; on the window's thread.  The last report of
  // the run is emitted before Run returns.
  void Progressed(int64_t done, int64_t total, bool bytes);
  // The worker thread has ended.
  void Finished();

 private:
  class Delegate;
  friend class Delegate;
  // From the worker thread: the latest report, passed on unless one already waits.
  void Report(int64_t done, int64_t total, bool bytes);
  void Deliver();
  void WorkerEnded();
  // From the worker thread: ConfirmWithoutUndo asked on the window's thread, waited for.
  bool Confirm(const QString& text);
  // The run ends without waiting for the worker (every loop was told to exit): a question
  // still waiting is answered No.
  void AbandonQuestion();

  bool running_ = false;
  bool ended_ = false;
  std::atomic<bool> cancel_ = false;
  std::function<void()> quit_;
  // The latest report of the worker, and whether a call to deliver it waits already.
  std::mutex reportMutex_;
  struct {
    int64_t done = 0, total = 0;
    bool bytes = false, fresh = false;
  } latest_;
  bool deliveryWaiting_ = false;
  // The question the worker waits on, if any (under reportMutex_).
  struct Answer {
    std::mutex mutex;
    std::condition_variable given;
    bool answered = false, yes = false;
    bool Waiting();
    void Give(bool value);  // the first answer given counts
  };
  std::shared_ptr<Answer> asking_;
};
