#pragma once

// The rollback journal of a change made in place ("NAME.jov-journal"): the old bytes of
// every range the change will overwrite, and the old sizes of both files.  Written and
// flushed before the first byte of either file changes; its title cleared on the disk is
// the commit point.  A journal found with its title ("hot") means a change was
// interrupted: writing its bytes back and cutting both files to their old sizes gives
// exactly the old pair.  One that is not complete means the files were never touched.

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/bytebuffer.h"
#include "common/fileio.h"
#include "library/libfiles.h"

class TOperationDelegate;

// A range of old bytes, and where they stand in the journal once it is written.
struct TJournalRange {
  int64_t offset;
  int64_t length;
  int64_t at = 0;
  // The old bytes themselves, kept by WriteJournal when the range is small, so that a
  // reader of the old state need not read them back from the journal.
  std::vector<uint8_t> old;
};

// A shift of the data file's bytes by whole blocks of its file system (TFile::Shift),
// made before any other change of the data file: delta bytes opened at offset (delta > 0)
// or -delta bytes closed up there.  None when delta is 0.
struct TJournalShift {
  int64_t offset = 0;
  int64_t delta = 0;
};

// Writes a complete journal into journal from byte 0 (whatever it held is overwritten;
// bytes behind the trailer are never read) and flushes it: the old bytes of ranges[f],
// read from files[f], with the files' old sizes and the index file's name.  Sets the
// ranges' positions in the journal.  Checks for a cancel between chunks.
// Returns the journal's name for the history (library/history.h): a number that tells it
// from every other journal.
// A shift, when there is one, is recorded as pending; `end` is set to where the journal
// ends, for MarkJournalShifted.
uint64_t WriteJournal(TFile& journal, TFile* const files[2], const int64_t oldSize[2],
                      const QString& indexName, std::vector<TJournalRange> (&ranges)[2],
                      TByteBuffer& buffer, TOperationDelegate* delegate,
                      const TJournalShift& shift = {}, int64_t* end = nullptr);
// Says on the disk that the journal's shift is made and durable, before the data file
// changes any further: from here on its bytes may be written over and recovery no longer
// looks for the shift's hole.  id and end are what WriteJournal gave.
void MarkJournalShifted(TFile& journal, uint64_t id, int64_t end);

// The commit point: the journal's title cleared, on the disk.  On failure the title is
// put back (whether the cleared one reached the disk is not known) and the error goes on.
void MarkJournalCommitted(TFile& journal);
// The title cleared after a change that committed through its history: not flushed, as a
// hot journal that the history names is not undone.  Never throws.
void ClearJournalTitle(TFile& journal);

// Whether the journal file has its title (a change under way, or interrupted).
bool JournalHasTitle(TFile& journal);
// Whether the library's journal is there with its title.  An idle journal kept between
// changes is not hot.
bool JournalIsHot(const TLibraryPaths& paths);

// The library's files as undoing the journal would leave them, read without writing them:
// sizes, and read(file, offset, out, length) within them (0 data, 1 index).  Not given
// (read empty) for a journal that shifted the data file.
struct TRolledBackFiles {
  int64_t size[2] = {0, 0};
  std::function<void(int, int64_t, uint8_t*, int64_t)> read;
};

// Whether the change of the journal with this id reached its commit point elsewhere (its
// history names it), so that its journal must not be undone.  Empty: it did not.
using TJournalCommitted =
    std::function<bool(uint64_t journalId, const TRolledBackFiles& rolledBack)>;

// Undoes the change the library's journal describes, when it is complete, with data the
// locked data file open for writing, and removes the journal.  With keepIdle, a journal
// without its title stays; returns whether the journal was removed.  A journal whose
// change `committed` names is only removed: the change's own rollback, which has not
// reached its commit point, gives none.
bool ApplyJournal(TFile& data, const TLibraryPaths& paths, TByteBuffer& buffer, bool keepIdle,
                  const TJournalCommitted& committed);

// The chunk in which old bytes are journalled and moved.
inline constexpr int64_t kJournalChunk = 4 << 20;
