#pragma once

// Every change to a library is one transaction over its pair of files, all or nothing
// and durable once it commits, whatever happens to the process or the disk meanwhile.
// This is the only way bytes reach a library.
//
// A transaction writes in one of two ways, and picks the one that writes fewer bytes:
// - in place, under a rollback journal (library/journal.h): the old bytes of every range
//   the change will overwrite go to the journal first, then the files change;
// - through a new pair (library/pairswitch.h): the new files are written beside the
//   library, each byte once, and switched in; the old files are never touched.  A change
//   that protects most of the data file (a record near the start that changes size moves
//   everything behind it) goes this way.
// The calling code does not see the difference: it protects, begins, writes, moves and
// reads old bytes the same way.  A rewrite (a create, a compact) is a transaction that
// writes the whole pair anew through a new pair.
//
// The journal file is kept from one change to the next while the library is open (its
// title cleared, so that it is not hot); closing the library removes it.
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
#include "library/journal.h"
#include "library/libfiles.h"

class TOperationDelegate;
class THistoryRecorder;
class THistoryCommit;

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

// The file system refused a shift the change had planned (TJovTransaction::Shift): the
// change rolled back and is run again, copying.
class EShiftRefused : public EJovError {
 public:
  using EJovError::EJovError;
};

enum class TChangeKind {
  Edit,     // changes some bytes of the pair: in place, or through a new pair
  Rewrite,  // writes the whole pair anew from empty files (a create, a compact)
};

// Opens the data file of the library at dataPath into files, for a reader that may later
// change it, after finishing what an earlier run left: a switch is completed, an
// interrupted change rolled back, new files no writer holds removed.  A data file that
// cannot be written is opened for reading (writable false).  The journal the files held
// for the library open until now is removed first.  False when there is no data file.
// Throws ELibraryBusy while another program's change is under way, and ERecoveryFailed.
bool OpenLibraryFiles(TLibraryFiles& files, const QString& dataPath,
                      const std::function<void(const TLibraryPaths&)>& onResolved = nullptr);
// Closing a library: removes the journal kept between its changes (when it is still the
// one at its name, under the writer's lock of the data file, so that no change of
// another program loses its journal), and closes the files.  Never throws.
void CloseLibraryFiles(TLibraryFiles& files);

class TJovTransaction {
 public:
  // Takes the writer's lock of files.data, waiting a moment for another writer to
  // finish, else throws ELibraryBusy (ELibraryReplaced when the file at the library's
  // name is no longer this one).  A journal left by an interrupted change is rolled back
  // first (the caller re-reads what it knows of the files after this).  An edit opens
  // the index file for reading and writing.  A rewrite may have no data file yet (a
  // library being created); its new data file is locked as soon as it is made.
  // delegate, when given, is asked for a cancel between chunks of long work.
  TJovTransaction(TLibraryFiles& files, TChangeKind kind = TChangeKind::Edit,
                  TOperationDelegate* delegate = nullptr);
  // Rolls back unless committed, and releases the lock.  Never throws: a rollback that
  // fails leaves the journal for the next opening of the library.
  ~TJovTransaction();
  TJovTransaction(const TJovTransaction&) = delete;
  TJovTransaction& operator=(const TJovTransaction&) = delete;

  // The file as it was when the transaction started, for reading before Begin.
  TFile& File(TLibFile file);
  // Size of the file when the transaction started (0 for a file not there).
  int64_t OldSize(TLibFile file) const { return oldSize_[int(file)]; }

  // Before Begin: declares bytes the change will overwrite or cut off.  Bytes at or past
  // the file's old end need none: a rollback cuts the file back to its old size.  A
  // rewrite declares nothing.
  void Protect(TLibFile file, int64_t offset, int64_t length);
  // Before Begin: plans to move the data file's bytes from offset on by shifting the
  // file system's extents instead of copying them (TFile::Shift), in whole blocks.  For
  // delta > 0 it opens room of at least delta bytes at offset; for delta < 0 it closes up
  // at most -delta bytes at offset, bytes the change drops.  Returns how far the bytes
  // from offset on (behind the closed bytes) will move, or 0 when the change must copy:
  // the file system cannot shift, the bytes to move are fewer than the shift floor, the
  // range reaches the end of the file, or a reader of this program watches the change.
  // The bytes of the opened room past delta, and the dropped bytes not closed up
  // (fewer than a block), stay in the file between records.  A planned shift keeps the
  // change in place, under the journal.
  int64_t PlanShift(int64_t offset, int64_t delta);
  // The block an edit's shifts move the data file by, or 0 where its file system cannot.
  int64_t ShiftUnit() const;
  // After Begin, before any other change of the data file: makes the planned shift and
  // puts the bytes before offset that share its block back in place.  The room opened
  // must then be written from offset on for delta bytes at least.  From here on the data
  // file keeps its size: its writes fall below offset (on protected bytes) or in the
  // room opened; it is not cut and nothing in it is moved.  Throws EShiftRefused when
  // the file system refuses.
  void Shift();

  // Writes the journal and makes it durable, with the folder, or starts the new pair.
  // Then the files may change.
  void Begin();

  // After Begin.  In an edit each write must fall on protected bytes or past the old
  // end: anything else is a mistake in the calling code and throws std::logic_error
  // before writing.  A rewrite writes its new files as it likes.
  void Write(TLibFile file, int64_t offset, const void* data, int64_t length);
  void WriteParts(TLibFile file, int64_t offset, const TFile::Part* parts, int count);
  void Truncate(TLibFile file, int64_t size);
  // Moves (copies) length bytes from `from` to `to` within the file: old bytes, as they
  // were when the transaction started, inside the kernel where it can.  Bytes the
  // journal does not hold go in chunks, front to back when moving towards the start and
  // back to front when moving towards the end, so that no byte is overwritten before it
  // has moved.
  void Move(TLibFile file, int64_t from, int64_t to, int64_t length);
  // After Begin: reads old bytes, as the file held them when the transaction started,
  // whatever has been written over them since.
  void ReadOld(TLibFile file, int64_t offset, void* out, int64_t length);
  // After Begin: declares that the bytes just written at `to` are old bytes from `from`
  // (copied through memory), so that the change's history need not keep them.
  void Copied(TLibFile file, int64_t from, int64_t to, int64_t length);

  // What the change does, in a few words, for its entry in the library's history ("insert
  // 1 image at 0").
  void Describe(const QString& what);
  // What the history records of the change, while the library keeps one (null when not).
  THistoryRecorder* Recorder() { return recorder_.get(); }
  TLibraryFiles& Files() { return files_; }
  int64_t HistoryLimit() const { return files_.historyLimit; }
  bool Begun() const { return state_ == State::Begun; }
  // The files as the change has written them so far: their sizes, bytes and paths (the
  // new pair's, before it is switched in).
  int64_t NewSize(TLibFile file);
  void ReadNew(TLibFile file, int64_t offset, void* out, int64_t length);
  QString NewPath(TLibFile file) const;
  // The file is the one the transaction found, and the change has not written it.
  bool Untouched(TLibFile file) const { return !newPair_ && !written_[int(file)]; }

  // Flushes the files and clears the journal's title on the disk (the commit point); or
  // completes the new pair (every byte not written is the old file's) and switches it
  // in.  A failure before the commit point throws after rolling back.  A change that
  // never began (it found nothing to write) ends without writing anything.  While the
  // library keeps a history, the change's entry is written with it, and the history's
  // flush is the commit point of a change in place (library/history.h).
  void Commit();
  bool Committed() const { return state_ == State::Committed; }
  // The delegate asked for a cancel between chunks of the change's long work.
  TOperationDelegate* Delegate() const { return delegate_; }

  // The chunk in which records are moved and journalled: the transaction's whole
  // memory, whatever the size of the library.
  static constexpr int64_t kChunk = kJournalChunk;

  // An edit goes to a new pair when it protects at least this many bytes of the data
  // file and more than half of it.  Tests set 0, which sends every edit that protects
  // bytes of the data file to a new pair, to run both ways on small libraries; returns
  // the old value.
  static int64_t SetRewriteFloor(int64_t bytes);
  // Fewer bytes to move than this are copied rather than shifted (by default 1 MiB).
  // Tests set 0 to shift the bytes of small libraries; returns the old value.
  static int64_t SetShiftFloor(int64_t bytes);

 private:
  enum class State { Preparing, Begun, Committed, Finished };
  // A file of the new pair: the old file's bytes except where the change wrote.
  struct NewFile {
    std::unique_ptr<TFile> file;
    int64_t size = 0;     // its length as the change left it
    int64_t keepOld = 0;  // below this, bytes not written are the old file's
    std::vector<std::pair<int64_t, int64_t>> written;  // sorted, apart: [begin, end)
    int64_t reserved = 0;                              // disk space set aside up to here
    void Reserve(int64_t end);
    void Wrote(int64_t offset, int64_t length);
    void Cut(int64_t size);
  };

  void CheckWrite(TLibFile file, int64_t offset, int64_t length) const;
  void CheckOldWrite(TLibFile file, int64_t offset, int64_t length) const;
  void CheckShiftedWrite(int64_t offset, int64_t length) const;
  // Reads old bytes the change has not written over, wherever a shift has put them.
  void ReadUnwritten(TLibFile file, int64_t offset, uint8_t* out, int64_t length);
  void BeginJournal();
  void BeginNewPair(bool keepOld);
  void CommitJournal();
  void CommitNewPair();
  void CompleteNewFile(NewFile& n, TFile* old);
  void SetNewPermissions();
  // The file a write of the change goes to.
  TFile& Target(TLibFile file);
  void Rollback();
  void RollbackAfterFailure();
  void AfterCommit(bool keptHistory);
  void MoveInPlace(TFile& f, int64_t from, int64_t to, int64_t length);
  const TJournalRange* ProtectedStretch(TLibFile file, int64_t at, int64_t& next) const;
  uint8_t* Buffer(int64_t n);

  TLibraryFiles& files_;
  TChangeKind kind_;
  TOperationDelegate* delegate_;
  TFile* data_;                     // the locked data file (null for a create from nothing)
  std::unique_ptr<TFile> oldData_;  // the replaced data file, after a switch
  std::unique_ptr<TFile> index_;
  bool journalling_ = false;  // Begin has started writing the journal
  int64_t oldSize_[2] = {0, 0};
  std::vector<TJournalRange> protected_[2];
  bool written_[2] = {false, false};
  State state_ = State::Preparing;
  bool locked_ = false;
  bool newPair_ = false;
  NewFile new_[2];
  TByteBuffer buffer_;
  std::unique_ptr<THistoryRecorder> recorder_;
  uint64_t journalId_ = 0;
  int64_t journalEnd_ = 0;
  TJournalShift shift_;     // the planned shift of the data file, in whole blocks
  int64_t shiftAsked_ = 0;  // the offset the caller asked for
  bool shifted_ = false;    // made
};
