#pragma once

// TFileEvents: whether anything was written, created, removed or renamed in a folder, or
// written to one file wherever it is named, since the last look.  The system queues the
// events in the call that causes them, so a look after a read tells whether a write came
// before it: one system call that finds nothing in the common case.  Where the events
// cannot be had (no inotify, too many watchers), every look says "maybe".

#include <QByteArray>
#include <QString>
#include <vector>

class TFileEvents {
 public:
  TFileEvents() = default;
  ~TFileEvents();
  TFileEvents(const TFileEvents&) = delete;
  TFileEvents& operator=(const TFileEvents&) = delete;

  // Watches folder and (when given) the file at path, forgetting what was watched
  // before and the events so far.  Only after Stop, when it watches the same again, the
  // events since Stop are kept for the next look.
  void Watch(const QString& folder, const QString& path = QString());
  // Whether events can be had: without them every look says "maybe".
  bool Watching() const { return !stopped_ && !watches_.empty(); }
  // Watches nothing (every look says "maybe") and forgets the events so far, until the
  // next Watch.
  void Stop();
  // True when an event came since the last look or Drain (and forgets them), or when
  // events cannot be had.
  bool Any();
  // Events that name this file of the watched folder are told apart from here on.
  void Mark(const QString& fileName);
  // Whether an event named the marked file since Mark (or events were lost, or cannot
  // be had).  The events it reads to tell stay for the next look.
  bool Named();

 private:
  void RemoveWatches();
  // Forgets the events so far.
  void Drain();
  // Reads what the system has queued, noting whether anything came and whether the
  // marked file was named.
  void Collect();

  int fd_ = -1;
  std::vector<int> watches_;
  bool stopped_ = false;
  bool unseen_ = false;  // events collected and not yet told by a look
  QByteArray marked_;
  bool named_ = false;
};
