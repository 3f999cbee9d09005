#pragma once

// A file layer for crash tests.  It wraps the native one and counts every operation
// that changes the disk (creating a file, a write, a truncate, a flush, removing or
// renaming a file, flushing a folder).  It can make the k-th of them fail once (a full
// disk, an I/O error), or cut the power at the k-th: that one and every later one fail,
// and Cut() then leaves the files as a disk may hold them after a power cut: what was
// flushed, plus any subset of the writes made since, each torn at 512-byte sectors.
// Each change of a folder's entries since that folder was flushed (a file created,
// removed or renamed) may or may not have happened; a rename carries the file's state,
// flushed and pending, to its new name.

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
  // One file's content on the disk, whatever name it has.
  struct Node {
    std::optional<QByteArray> durable;  // content as flushed; none: never flushed
    std::vector<Op> pending;            // changes since the last flush
  };
  // The node at path (tracking it from the disk when first seen); -1 when none.
  int NodeAt(const QString& path);
  Node& NodeOf(int id) { return nodes_[size_t(id)]; }
  // A new, empty file at path (a Create of a name that did not exist).
  int Created(const QString& path);
  void Removed(const QString& path);
  void Renamed(const QString& from, const QString& to);
  void FolderFlushed(const QString& folder);

 private:
  void Track(const QString& key);

  struct FolderOp {
    enum Kind { Create, Remove, Rename } kind;
    QString from, to;
    int node;
  };
  std::vector<Node> nodes_;
  std::map<QString, int> live_;          // absolute path -> node, as the folders hold it now
  std::map<QString, int> durableEntry_;  // as the folders held it when last flushed
  std::vector<FolderOp> folderOps_;      // entry changes not yet flushed
  int count_ = 0;
  int failAt_ = -1;
  int cutAt_ = -1;
  bool cut_ = false;
  TFile::Factory oldFactory_;
  TFolderOps oldFolderOps_;
};
