#pragma once

// Every change to a library is one transaction over its pair of files, all or nothing
// and durable once it returns, whatever happens to the process or the disk meanwhile.
//
// The mechanism is a rollback journal beside the data file ("NAME.jov-journal"): before
// the first byte of either file is overwritten, the old bytes of every range the change
// will overwrite and the old sizes of both files are written to the journal and flushed
// to the disk, with the folder.  Then the files are changed in place.  Clearing the
// journal's title on the disk is the commit point; the files are flushed before it, and
// the journal is removed after it.
// A journal found beside a library ("hot") means a change was interrupted: its bytes are
// written back and both files cut back to their old sizes, which gives exactly the old
// pair.  A journal that is not complete (the process died while writing it) means the
// files were not touched yet; it is simply removed.
//
// A change that rewrites most of the data file (a record near the start that changes
// size moves everything behind it) would write every moved byte twice that way: once
// into the journal, once in place.  Such a change writes a new pair of files beside the
// library instead, each byte once, and switches it in under a commit record (see
// jovnewpair.h); the old files are never touched.  The calling code does not see the
// difference: it protects, writes, moves and reads old bytes the same way, and the
// transaction picks whichever writes fewer bytes.
//
// The journal file is kept from one change to the next while the library is open (its
// title cleared, so that it is not hot): a change then overwrites it instead of making a
// new file, whose name would have to be flushed to the disk each time.  Closing the
// library removes it.
//
// One writer at a time: a transaction holds the exclusive lock of the data file.
// Readers take no lock.

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/bytebuffer.h"
#include "common/errors.h"
#include "common/fileio.h"

// Another program is changing the library right now.
class ELibraryBusy : public EJovError {
 public:
  using EJovError::EJovError;
};

// The open data file is no longer the library's: another program replaced the pair since
// it was opened.
class ELibraryReplaced : public ELibraryBusy {
 public:
  using ELibraryBusy::ELibraryBusy;
};

// An interrupted change that cannot be undone here (the medium is read-only, or the
// journal is damaged): the library is not read until it is.
class ERecoveryFailed : public EJovError {
 public:
  using EJovError::EJovError;
};

enum class TLibFile { Data = 0, Index = 1 };

// The journal of the library whose data file is dataPath.
QString JournalPathOf(const QString& dataPath);
// Whether that journal is there with its title: a change was under way (or did not
// finish rolling back).  An idle journal kept between changes is not hot.
bool JournalIsHot(const QString& dataPath);

class TJovTransaction {
 public:
  // Takes the writer's lock on data (the open data file at dataPath), waiting a moment
  // for another writer to finish, else throws ELibraryBusy (ELibraryReplaced when the
  // file at dataPath is no longer this one).  A journal left by an interrupted change is
  // rolled back first (the caller re-reads what it knows of the files after this).
  // Opens the index file at indexPath for reading and writing.  A change committed
  // through a new pair leaves data holding the new data file, locked until the
  // transaction ends.  journal holds the journal file kept between changes of this
  // library (empty at first); the transaction reuses it and leaves it there.
  TJovTransaction(std::unique_ptr<TFile>& data, std::unique_ptr<TFile>& journal,
                  const QString& dataPath, const QString& indexPath);
  // Rolls back unless committed, and releases the lock.  Never throws: a rollback that
  // fails leaves the journal for the next opening of the library.
  ~TJovTransaction();
  TJovTransaction(const TJovTransaction&) = delete;
  TJovTransaction& operator=(const TJovTransaction&) = delete;

  // The file as it was when the transaction started, for reading before Begin (after
  // Begin, ReadOld is the way to old bytes).
  TFile& File(TLibFile file);
  // Size of the file when the transaction started.
  int64_t OldSize(TLibFile file) const { return oldSize_[int(file)]; }

  // Before Begin: declares bytes the change will overwrite or cut off.  Bytes at or past
  // the file's old end need none: a rollback cuts the file back to its old size.
  void Protect(TLibFile file, int64_t offset, int64_t length);
  // Writes the journal and makes it durable, with the folder, or, when the protected
  // bytes of the data file are most of it, starts the new pair.  Then the files may change.
  void Begin();

  // After Begin.  Each write must fall on protected bytes or past the old end: anything
  // else is a mistake in the calling code and throws std::logic_error before writing.
  void Write(TLibFile file, int64_t offset, const void* data, int64_t length);
  void WriteParts(TLibFile file, int64_t offset, const TFile::Part* parts, int count);
  void Truncate(TLibFile file, int64_t size);
  // Moves length bytes from `from` to `to` within the file.  Bytes the journal holds (and
  // every byte, for a new pair) are copied as they were when the transaction started;
  // others go in chunks through the transaction's buffer, front to back when moving
  // towards the start and back to front when moving towards the end, so that no byte is
  // overwritten before it has moved.
  void Move(TLibFile file, int64_t from, int64_t to, int64_t length);

  // After Begin: reads old bytes (as the file held them when the transaction started) of
  // a protected range, from the journal, whatever has been written over them since.  A
  // change that rebuilds a whole stretch of a file reads its old records here and writes
  // the new stretch front to back, without caring what it overwrites.
  void ReadOld(TLibFile file, int64_t offset, void* out, int64_t length);

  // Flushes the files, then clears the journal's title and flushes it (the commit
  // point), then removes the journal; or completes the new pair (every byte not written
  // is the old file's) and switches it in.  A failure before the commit point throws
  // after rolling back.
  void Commit();
  bool Committed() const { return state_ == State::Committed; }

  // Opening a library: when a journal lies beside the data file, takes the lock and
  // rolls the interrupted change back.  data must be open for writing, else
  // ERecoveryFailed names the journal.  Throws ELibraryBusy while another program still
  // holds the lock (its change is under way), and ELibraryReplaced when the file at
  // dataPath is no longer data once the lock is taken (the caller opens it again).
  static void RecoverOnOpen(TFile& data, const QString& dataPath, bool writable);
  // Closing a library: removes the journal kept between its changes (when it is still
  // the one at its name, under the writer's lock of data, the library's open data file,
  // so that no change of another program loses its journal), and closes it.  Never
  // throws; a journal that stays is idle.
  static void DropJournal(TFile* data, std::unique_ptr<TFile>& journal);

  // The chunk in which records are moved and journalled: the transaction's whole
  // memory, whatever the size of the library.
  static constexpr int64_t kChunk = 4 << 20;

  // A change goes to a new pair when it protects at least this many bytes of the data
  // file and more than half of it.  Tests set 0, which sends every change that protects
  // bytes of the data file to a new pair, to run both ways on small libraries; returns
  // the old value.
  static int64_t SetRewriteFloor(int64_t bytes);

 private:
  enum class State { Preparing, Journalled, Committed, Finished };
  // A file of the new pair: the old file's bytes except where the change wrote.
  struct NewFile {
    std::unique_ptr<TFile> file;
    int64_t size = 0;     // its length as the change left it
    int64_t keepOld = 0;  // below this, bytes not written are the old file's
    std::vector<std::pair<int64_t, int64_t>> written;  // sorted, apart: [begin, end)
    int64_t reserved = 0;                              // disk space set aside up to here
    // Sets space aside for writes up to end, with room to spare.
    void Reserve(int64_t end);
    void Wrote(int64_t offset, int64_t length);
    void Cut(int64_t size);
  };
  struct Range {
    int64_t offset;
    int64_t length;
    int64_t journalAt = 0;  // where its old bytes stand in the journal
  };

  void CheckWrite(TLibFile file, int64_t offset, int64_t length) const;
  void BeginNewPair();
  void CommitNewPair();
  // The file a write of the change goes to.
  TFile& Target(TLibFile file);
  // The journalled range that holds [offset, offset + length), if one does.
  const Range* Journalled(TLibFile file, int64_t offset, int64_t length) const;
  void Rollback();
  void RollbackAfterFailure();
  uint8_t* Buffer(int64_t n);

  std::unique_ptr<TFile>& dataSlot_;
  TFile* data_;
  std::unique_ptr<TFile> oldData_;  // the replaced data file, after a switch
  QString dataPath_;
  QString indexPath_;
  QString journalPath_;
  std::unique_ptr<TFile> index_;
  std::unique_ptr<TFile>& journal_;
  bool journalling_ = false;  // Begin has started writing the journal
  int64_t oldSize_[2] = {0, -1};
  std::vector<Range> protected_[2];
  bool written_[2] = {false, false};
  State state_ = State::Preparing;
  bool locked_ = false;
  bool rewrite_ = false;
  NewFile new_[2];
  TByteBuffer buffer_;
};

// Takes the writer's lock of a library's data file, waiting a moment for another writer
// to finish; false when it is still held.
bool TakeWriterLock(TFile& data);
