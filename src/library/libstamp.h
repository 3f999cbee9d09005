#pragma once

// How a reader tells that another program changed the library it shows.  A writer in
// place makes its journal hot before the first byte of the data file changes and keeps
// it so until the change has committed; a writer through a new pair leaves the open data
// file as it was and renames new files over the names.  So a reader that loaded the index
// when the files had a given stamp may trust what it reads from its open data file as
// long as that file keeps its stamp and no journal is hot: the seqlock a fetch checks.
// A watcher compares the stamps of the names with those the reader took, and once no
// change is under way (no hot journal, no switch record) a difference is a change that
// another program committed.

#include <QString>

#include "common/fileio.h"
#include "library/libfiles.h"

// The files of a library as a reader found them.
struct TLibraryStamp {
  TFileStamp data, index, history;
  bool underway = false;  // a hot journal or a switch record: the files are not settled

  // The stamps of the files at the library's names, and whether a change is under way
  // (journal read through probe, which may be null).
  static TLibraryStamp Of(const TLibraryPaths& paths, class TJournalProbe* probe = nullptr);
  // The same files, unchanged.
  bool SameFiles(const TLibraryStamp& o) const {
    return data == o.data && index == o.index && history == o.history;
  }
};

// Whether a library's journal is hot: a stat, and its title read when it is there.
class TJournalProbe {
 public:
  bool Hot(const QString& journalPath);
};

// What the files now say against the state a reader shows.
enum class TLibraryChange {
  None,       // as shown
  Underway,   // another program is changing them: wait
  Committed,  // another program changed them: read them again
};
TLibraryChange CompareToShown(const TLibraryStamp& shown, const TLibraryStamp& now);
