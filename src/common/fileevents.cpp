#include "common/fileevents.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QFile>

namespace {

constexpr uint32_t kFolderEvents =
    IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF;

}  // namespace

TFileEvents::~TFileEvents() {
  Stop();
}

void TFileEvents::Watch(const QString& folder, const QString& path) {
  Stop();
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return;
  // The file itself too: a write through another of its names is not an event of this
  // folder.
  if (::inotify_add_watch(fd_, QFile::encodeName(folder).constData(), kFolderEvents) < 0 ||
      ::inotify_add_watch(fd_, QFile::encodeName(path).constData(), IN_MODIFY) < 0)
    Stop();
}

void TFileEvents::Stop() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void TFileEvents::Drain() {
  Any();
}

bool TFileEvents::Any() {
  if (fd_ < 0) return true;
  alignas(inotify_event) char buffer[4096];
  bool any = false;
  while (::read(fd_, buffer, sizeof buffer) > 0) any = true;
  return any;
}
