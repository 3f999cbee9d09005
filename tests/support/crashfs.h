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
// Files can shift their bytes by whole pages (TFile::Shift) once SetShiftUnit allows it.
// A shift not yet flushed may at a power cut be lost, kept, or kept in part as ext4 and
// XFS may leave one: the bytes up to some page where they were, a hole of the shift's
// length, the rest moved (the size already changed when it opens, not yet when it
// closes).  Holes, and those made by PunchHole, stay holes on the disk the cut leaves.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
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
  // The block the files shift by (0, the default: they refuse to shift); a page.
  static constexpr int64_t kPage = 4096;
  void SetShiftUnit(int64_t unit) { shiftUnit_ = unit; }
  // The shift unit every layer installed from now on starts with.
  static inline int64_t shiftUnitForNew = 0;
  // Files that give a shift unit and then refuse every shift, as a file system may.
  static inline bool refuseShiftsForNew = false;
  int64_t ShiftUnit() const { return shiftUnit_; }
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
    int64_t shift = 0;  // a shift by this many bytes at offset
    int64_t punch = 0;  // a hole of this many bytes punched at offset
  };
  // One file's content on the disk, whatever name it has.
  struct Node {
    std::optional<QByteArray> durable;  // content as flushed; none: never flushed
    std::set<int64_t> durableHoles;     // its pages that are holes
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
  int64_t shiftUnit_ = shiftUnitForNew;

 public:
  const bool refuseShifts = refuseShiftsForNew;
  TFile::Factory oldFactory_;
  TFolderOps oldFolderOps_;
};
