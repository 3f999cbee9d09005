#pragma once

// A file system of a given type made for a test on a loop device: an image file in the
// system's temporary folder, formatted and mounted.  Needs root and the type's tools;
// Skipped() says why it could not be made.  Unmounted and removed when destroyed.

#include <QString>
#include <QTemporaryDir>

class TLoopFs {
 public:
  // type: "ext4" or "xfs"; megabytes: the size of the image.
  TLoopFs(const QString& type, int megabytes);
  ~TLoopFs();
  TLoopFs(const TLoopFs&) = delete;
  TLoopFs& operator=(const TLoopFs&) = delete;

  // Empty when mounted, else why not.
  const QString& Skipped() const { return skipped_; }
  // The mounted folder.
  QString Root() const;

 private:
  QTemporaryDir dir_;
  QString skipped_;
  bool mounted_ = false;
};
