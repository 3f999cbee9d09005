#pragma once

// TLibraryWatch: tells the window when the files of the library it shows, or the files a
// change puts beside them, may have changed.  It watches them and their folder (a file
// replaced by a rename is watched again under its name), and looks on a timer as well,
// so that a change the system does not report is still noticed within a second.  What a
// change means is the library's to tell (TJOV::ChangeByOthers); this only says when to
// ask, at most once per turn of the event loop.

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>

class TLibraryPaths;

class TLibraryWatch : public QObject {
 public:
  TLibraryWatch(std::function<void()> look, QObject* parent);

  // Watches the library at paths (whatever was watched before is forgotten).
  void Watch(const TLibraryPaths& paths);
  void Stop();

  // How often the timer looks when nothing is reported.
  static constexpr int kPollMs = 500;

 private:
  void Rewatch();
  void Schedule();

  std::function<void()> look_;
  QFileSystemWatcher* watcher_ = nullptr;
  QTimer poll_;
  QStringList files_;
  QString folder_;
  bool scheduled_ = false;
};
