#pragma once

// A file layer for crash tests.  It wraps the native one and counts every operation
// that changes the disk (creating a file, a write, a truncate, a flush, removing a file,
// flushing a folder).  It can make the k-th of them fail once (a full disk, an I/O
// error), or cut the power at the k-th: that one and every later one fail, and Cut()
// then leaves the files as a disk may hold them after a power cut: what was flushed,
// plus any subset of the writes made since, each torn at 512-byte sectors; a file
// created or removed since its folder was flushed may or may not be there.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "common/fileio.h"

class TCrashFs {
 public:
  // Installs itself in place of the native file layer until destroyed.
  TCrashFs();
  ~TCrashFs();
  TCrashFs(const TCrashFs&) = delete;
  TCrashFs& operator=(const TCrashFs&) = delete;

  void FailAt(int k) { failAt_ = k; }
  void CutAt(int k) { cutAt_ = k; }
  // Operations seen so far.
  int Count() const { return count_; }
  bool CutHappened() const { return cut_; }
  // Writes the state after the power cut onto the disk, chosen with seed, and forgets
  // every pending operation.  Only after CutAt tripped.
  void Cut(uint32_t seed);

  // Called by the wrapped files and folder operations.
  void Step();  // throws when this operation is to fail
  struct Op {
    bool truncate;
    int64_t offset;  // or the new size
    QByteArray bytes;
  };
  struct FileState {
    std::optional<QByteArray> durable;  // content as flushed; none: not on the disk
    std::vector<Op> pending;             // changes since the last flush
    bool entryDurable = false;           // the folder entry as last flushed
  };
  FileState& State(const QString& path);
  void Flushed(const QString& path);
  void FolderFlushed(const QString& folder);

 private:
  std::map<QString, FileState> files_;
  int count_ = 0;
  int failAt_ = -1;
  int cutAt_ = -1;
  bool cut_ = false;
  TFile::Factory oldFactory_;
  TFolderOps oldFolderOps_;
};
