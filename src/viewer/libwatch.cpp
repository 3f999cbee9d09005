#include "viewer/libwatch.h"

#include <QFileInfo>

#include "library/libfiles.h"

TLibraryWatch::TLibraryWatch(std::function<void()> look, QObject* parent)
    : QObject(parent), look_(std::move(look)) {
  poll_.setInterval(kPollMs);
  connect(&poll_, &QTimer::timeout, this, [this] { Schedule(); });
}

void TLibraryWatch::Watch(const TLibraryPaths& paths) {
  Stop();
  files_ = {paths.Data(),
            paths.Index(),
            paths.Journal(),
            paths.History(),
            paths.Switch(),
            paths.NewFile(TLibFile::Data),
            paths.NewFile(TLibFile::Index)};
  folder_ = paths.Folder();
  watcher_ = new QFileSystemWatcher(this);
  connect(watcher_, &QFileSystemWatcher::fileChanged, this, [this] { Schedule(); });
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { Schedule(); });
  Rewatch();
  poll_.start();
}

void TLibraryWatch::Stop() {
  poll_.stop();
  delete watcher_;
  watcher_ = nullptr;
  files_.clear();
}

void TLibraryWatch::Rewatch() {
  if (watcher_ == nullptr) return;
  // Only files that are there can be watched; one renamed over its name is a new file.
  const QStringList watched = watcher_->files();
  if (!watched.isEmpty()) watcher_->removePaths(watched);
  QStringList present;
  for (const QString& file : files_)
    if (QFileInfo::exists(file)) present << file;
  if (!present.isEmpty()) watcher_->addPaths(present);
  if (watcher_->directories().isEmpty() && !folder_.isEmpty()) watcher_->addPath(folder_);
}

void TLibraryWatch::Schedule() {
  if (scheduled_ || watcher_ == nullptr) return;
  scheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    scheduled_ = false;
    if (watcher_ == nullptr) return;
    Rewatch();
    look_();
  });
}
