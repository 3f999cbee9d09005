#pragma once

// The history of a library's changes, kept beside it ("NAME.jov-history") so that every
// change can be undone, and every undo redone, also after the program ends.
//
// An entry keeps what its change removed or overwrote, never a copy of the library: the
// old files told from the new ones, piece by piece.  Old bytes that still stand somewhere
// in the new file are told by where they stand; old index entries that the change only
// shifted, as new entries plus the shift; only the rest is kept as bytes.  Undoing an
// entry is a change of its own, a transaction on the one write path, that makes the old
// files again; the entry that change records is the one that redoes it.
//
// The history belongs to one state of the library: the sizes of both files, their
// stamps (device, inode, modification time) and checksums of the index, of the data
// file's header and palette and of the bytes the last change wrote.  Equal stamps tell at
// once that no one else wrote; when they differ (a rollback, a copy of the folder) the
// checksums decide.  After a change of another program the entries are refused until the
// history is cleared; a change of this program on top keeps them, refused.
//
// Recording is part of the change's transaction.  A change in place commits by writing
// its entry and a new slot of the history and flushing it, in place of clearing the
// journal's title: the slot names the journal, and a hot journal that the history names
// is one whose change committed.  A change through a new pair writes its entry and slot
// before the switch, marked pending; whichever pair stands afterwards decides.

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/fileio.h"
#include "library/changemap.h"
#include "library/libfiles.h"

class TJovTransaction;
class TOperationDelegate;
class THistoryFile;
struct TRolledBackFiles;

// What a transaction's entry does in the history.
enum class THistoryRole {
  Change,  // a change: its entry goes on top of the done ones, the undone ones go
  Undo,    // undoes the newest done change: its entry goes on top of the undone ones
  Redo,    // redoes the newest undone change: its entry goes on top of the done ones
};

// One entry as listed.
struct THistoryEntry {
  QString what;
  int64_t whenMs = 0;  // since the epoch, UTC
  int64_t bytes = 0;   // its size in the history file
  bool undone = false;
  bool refused = false;  // taken from a state the library is no longer in
};

struct THistoryListing {
  std::vector<THistoryEntry> done;    // the newest first: the next to undo
  std::vector<THistoryEntry> undone;  // the next to redo first
  bool changedElsewhere = false;      // the library is not in the state the history knows
  int64_t fileBytes = 0;
};

// "image 5" or "images 5 to 9", for what a change says it does.
QString ImagesText(int first, int last);

// The library state a history belongs to.
struct THistoryState {
  int64_t size[2] = {0, 0};
  uint64_t indexSum = 0, headSum = 0, writtenSum = 0;
  struct Stamp {
    uint64_t device = 0, inode = 0;
    int64_t modifiedNs = 0;
    bool operator==(const Stamp&) const = default;
  } stamp[2];
  // The same files, as far as checksums tell (stamps aside).
  bool SameContent(const THistoryState& o) const {
    return size[0] == o.size[0] && size[1] == o.size[1] && indexSum == o.indexSum &&
           headSum == o.headSum && writtenSum == o.writtenSum;
  }
};

// What a transaction records of its change as it goes, for its history entry.
class THistoryRecorder {
 public:
  THistoryRecorder(const int64_t oldSize[2], const THistoryState::Stamp stamps[2]);
  TChangeMap& Map(TLibFile file) { return maps_[int(file)]; }
  const TChangeMap& Map(TLibFile file) const { return maps_[int(file)]; }
  const THistoryState::Stamp& StampAtStart(TLibFile file) const { return stamps_[int(file)]; }

  QString what;
  THistoryRole role = THistoryRole::Change;
  int64_t applying = 0;  // an undo or redo: where the entry it applies stands

 private:
  TChangeMap maps_[2];
  THistoryState::Stamp stamps_[2];
};

// The stamp of the file at path (zeros when there is none).
THistoryState::Stamp StampOf(const QString& path, int64_t* size = nullptr);
inline THistoryState::Stamp StampOf(const TFileStamp& s) {
  return {s.device, s.inode, s.modifiedNs};
}

// The history's side of a transaction's commit, prepared once the change's bytes are
// written, under the writer's lock.
class THistoryCommit {
 public:
  virtual ~THistoryCommit() = default;
  // For a change in place, before its files are flushed: writes the entry behind the kept
  // ones and, when the state's checksums see every byte the change wrote, the slot naming
  // the change's journal, and starts them on their way to the disk, so that they get
  // there while the files are flushed.  Until Commit a power cut may leave that slot there
  // without the files: the opening, finding the library not as the slot says, makes the
  // slot before it current again and rolls the journal back.
  virtual void Stage(uint64_t journalId) = 0;
  // The commit point of a staged change, once its files are on the disk: the history,
  // with the slot written now when Stage did not, flushed.
  virtual void Commit() = 0;
  // For a switch: writes the entry and a pending slot, and flushes the history: what the
  // switch makes true.
  virtual void WritePending() = 0;
  // After a failure of any of these or of the switch: the slot that was current is made
  // current again, on the disk.  False when that failed too.
  virtual bool Revert() = 0;
  // After the switch: the slot is no longer pending (not flushed: an opening tells it
  // from the files).
  virtual void Settle() = 0;
};

// Prepares the history of the change t made (null when it keeps none: a limit of 0, or an
// entry larger than the limit, which the delegate is told of first and may refuse with a
// cancel).  Reads the old bytes the entry keeps and checks the state the history knows;
// an undo or a redo is refused here when its entry does not fit the files.
std::unique_ptr<THistoryCommit> PrepareHistoryCommit(TJovTransaction& t, TLibraryFiles& files,
                                                     const THistoryRecorder& recorder,
                                                     TOperationDelegate* delegate);

// After a change that kept no history, or a rewrite: the library's history goes (its
// entries no longer fit).  Never throws.
void ForgetHistory(TLibraryFiles& files);

// Whether the library's history names the journal journalId as that of a change that
// committed.  False when there is no history or it cannot be read.  A change whose slot
// went to the disk beside its files, which did not all get there (the files as rolling
// the journal back leaves them are those the change was made on), did not: the slot
// before it is made current again, on the disk.
bool HistoryCommittedJournal(const TLibraryPaths& paths, uint64_t journalId,
                             const TRolledBackFiles& rolledBack);

// Reads the history beside the library (without the lock: a listing may be a moment
// old).  Empty when there is none.
THistoryListing ListHistory(const TLibraryPaths& paths);

// ---- Undo and redo, run inside a transaction of an Edit on the open library.

// The entry the next undo (or redo) would apply, as listed; none when there is none.
// Reads under the transaction's lock.
struct THistoryStep {
  int64_t at = 0;  // where the entry stands in the history file; 0: none
  THistoryEntry entry;
};
THistoryStep NextHistoryStep(TJovTransaction& t, TLibraryFiles& files, THistoryRole role);
// Applies the entry of step to the files (protects, begins and writes; the caller
// commits), after checking that the library is in the state it was taken from.
void ApplyHistoryStep(TJovTransaction& t, TLibraryFiles& files, const THistoryStep& step,
                      THistoryRole role);
// Clears the history: no entries, the state as the files are now.  Inside a transaction
// that writes nothing else.
void ClearHistory(TJovTransaction& t, TLibraryFiles& files);
