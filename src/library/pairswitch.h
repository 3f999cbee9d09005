#pragma once

// Putting a new pair of files in place of a library's pair in one step.  A change that
// rewrites most of the data file, a create and a compact write the new data file and
// index file under their temporary names beside the library (TLibraryPaths::NewFile),
// complete and flushed, and then switch them in here.
//
// The switch: a small switch record (TLibraryPaths::Switch, naming the index file) is
// written under a draft name, flushed and renamed into place; once the folder is
// flushed, that record is the commit point.  Then any journal of the old pair is removed
// (it describes files that are going), the new index and the new data file are renamed
// over the old ones, the folder is flushed and the record removed.  Opening the library
// finishes a switch whose record it finds: renames still to be made are made.  Without
// a record the old pair (or none) stands, and files under the temporary names are never
// read.

#include "common/fileio.h"
#include "library/libfiles.h"

// The switch, once both new files are complete, flushed and closed.  A failure before
// the commit point throws and leaves the old pair (the new files are the caller's to
// discard); renames that fail after it are tried once more, then left to the next
// opening of the library.
void SwitchInNewPair(const TLibraryPaths& paths);

// Completes an interrupted switch of the library's pair, as every opening does first.
// Throws the file layer's errors when the renames cannot be made.
bool RecoverSwitch(const TLibraryPaths& paths);

// Removes the new files of a pair that is not switched in, and a switch record that may
// have reached its name.  Never throws.
void DiscardNewPair(const TLibraryPaths& paths);

// Opening a library: removes new files that a change of an earlier run left beside it
// when it stopped before its switch (they take as much room as the library), when no
// switch is pending and the writer's lock of data, the open data file, can be had at once.
void RemoveLeftNewPair(TFile& data, const TLibraryPaths& paths);
