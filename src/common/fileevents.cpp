#include "common/fileevents.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr uint32_t kFolderEvents =
    IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF;

}  // namespace

TFileEvents::~TFileEvents() {
  if (fd_ >= 0) ::close(fd_);
}

void TFileEvents::Watch(const QString& folder, const QString& path) {
  // One instance serves every watch of this object: making and freeing one costs the
  // system far more than moving its watches.
  if (fd_ < 0) fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return;
  std::vector<int> now;
  // The file itself too when given: a write through another of its names is not an
  // event of this folder.
  const int folderWatch =
      ::inotify_add_watch(fd_, QFile::encodeName(folder).constData(), kFolderEvents);
  const int fileWatch =
      folderWatch < 0 || path.isEmpty()
          ? -1
          : ::inotify_add_watch(fd_, QFile::encodeName(path).constData(), IN_MODIFY);
  if (folderWatch >= 0) now.push_back(folderWatch);
  if (fileWatch >= 0) now.push_back(fileWatch);
  const bool same = now == watches_;
  for (const int old : watches_)
    if (std::find(now.begin(), now.end(), old) == now.end()) ::inotify_rm_watch(fd_, old);
  watches_ = std::move(now);
  if (folderWatch < 0 || (fileWatch < 0 && !path.isEmpty())) {
    RemoveWatches();
    return;
  }
  // Watching again what it watched before Stop: the events since Stop came while it
  // watched nothing, and the next look is to see them (it was drained at Stop).
  if (!(same && stopped_)) Drain();
  stopped_ = false;
}

void TFileEvents::Stop() {
  // The watches stay with the system until the next Watch moves them: a watch made again
  // of the same folder is then one call, and removing one costs the system more than
  // any other call here.
  Drain();
  stopped_ = true;
}

void TFileEvents::RemoveWatches() {
  if (fd_ >= 0)
    for (const int old : watches_) ::inotify_rm_watch(fd_, old);
  watches_.clear();
}

void TFileEvents::Drain() {
  Collect();
  unseen_ = named_ = false;
}

bool TFileEvents::Any() {
  if (!Watching()) return true;
  Collect();
  return std::exchange(unseen_, false);
}

void TFileEvents::Mark(const QString& fileName) {
  marked_ = QFile::encodeName(fileName);
  named_ = false;
}

bool TFileEvents::Named() {
  if (!Watching()) return true;
  Collect();
  return named_;
}

void TFileEvents::Collect() {
  if (fd_ < 0) return;
  alignas(inotify_event) char buffer[4096];
  ssize_t got;
  while ((got = ::read(fd_, buffer, sizeof buffer)) > 0) {
    unseen_ = true;
    for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      // A name is ended by the zeros that pad it; lost events may have named it.
      if ((event->mask & IN_Q_OVERFLOW) || (event->len > 0 && !marked_.isEmpty() &&
                                            std::strcmp(event->name, marked_.constData()) == 0))
        named_ = true;
      at += ssize_t(sizeof(inotify_event)) + event->len;
    }
  }
}
