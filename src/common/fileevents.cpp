#include "common/fileevents.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>

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
  if (fd_ >= 0) Read();
}

bool TFileEvents::Any() {
  if (!Watching()) return true;
  return Read();
}

bool TFileEvents::Read() {
  alignas(inotify_event) char buffer[4096];
  bool any = false;
  while (::read(fd_, buffer, sizeof buffer) > 0) any = true;
  return any;
}
