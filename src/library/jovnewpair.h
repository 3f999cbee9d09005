#pragma once

// Writing a library's pair of files anew: the new data file and index file are built
// under temporary names beside the library ("NAME.jov-new", "NAME.JOX-new") and then put
// in place in one step, so that an existing pair is replaced whole or not at all.
//
// The switch: with both new files complete and on the disk, a small switch record
// ("NAME.jov-switch", naming the two files) is written under a temporary name, flushed
// and renamed into place; once the folder is flushed, that record is the commit point.
// Then any journal of the old pair is removed (it describes files that are going), the
// new index and the new data file are renamed over the old ones, the folder is flushed
// and the record removed.  Opening the library finishes a switch whose record it finds
// (RecoverSwitchOnOpen): renames that are still to be made are made.  Without a record,
// the old pair (or none) stands, and leftover temporary files are never read.

#include <QString>
#include <cstdint>
#include <memory>

#include "common/bytebuffer.h"
#include "common/fileio.h"

// Temporary name of a file of a pair under construction.
QString NewPairPathOf(const QString& path);
// The switch record of the library whose data file is dataPath.
QString SwitchPathOf(const QString& dataPath);

// Called by TJOV::Open before anything else: completes an interrupted switch of the pair
// of dataPath.  Throws the file layer's errors when the renames cannot be made.
void RecoverSwitchOnOpen(const QString& dataPath);

// The switch itself, once both new files are complete and flushed and closed: from the
// commit record on, the new pair stands.  A failure before the commit point throws and
// leaves the old pair (the new files are the caller's to discard); one after it is left
// to the next opening of the library.
void SwitchInNewPair(const QString& dataPath, const QString& indexPath);
// Removes the new files of a pair that is not switched in, and a switch record that may
// have reached its name.  Never throws: leftovers under the temporary names are never read.
void DiscardNewPair(const QString& dataPath, const QString& indexPath);

// Opening a library: removes new files that a change or a create of an earlier run left
// beside it when it stopped before its switch (a copy of a large library takes as much
// room as the library), when no switch is pending and the writer's lock of data, the
// open data file, can be taken at once.
void RemoveLeftNewPair(TFile& data, const QString& dataPath, const QString& indexPath);

class TNewPair {
 public:
  // Creates both temporary files.  When a data file exists at dataPath and lockOld is
  // set, takes its writer's lock for the whole run (ELibraryBusy when another program
  // is changing it); a caller that holds the lock already passes false.
  TNewPair(const QString& dataPath, const QString& indexPath, bool lockOld);
  // Removes the temporary files unless the switch was made.  Never throws.
  ~TNewPair();
  TNewPair(const TNewPair&) = delete;
  TNewPair& operator=(const TNewPair&) = delete;

  // Appends bytes to the new data file, through a buffer of TJovTransaction::kChunk.
  void Append(const void* data, int64_t n);
  // Appends the parts one after the other, in one gathered write.
  void AppendParts(const TFile::Part* parts, int count);
  // Bytes appended so far: where the next append lands.
  int64_t Size() const { return size_; }
  // Overwrites bytes already appended (a count in a header).
  void Patch(int64_t offset, const void* data, int64_t n);
  // Appends bytes to the new index file.
  void AppendIndex(const void* data, int64_t n);

  // Flushes both new files and switches them in (see above).  After it returns the new
  // pair stands under the library's names.
  void Commit();

 private:
  void FlushBuffer();

  QString dataPath_, indexPath_;
  std::unique_ptr<TFile> oldData_;  // holds the lock of the pair being replaced
  std::unique_ptr<TFile> data_, index_;
  TByteBuffer buffer_;
  int64_t buffered_ = 0;
  int64_t size_ = 0;
  int64_t indexSize_ = 0;
  bool committed_ = false;
};
