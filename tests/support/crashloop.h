#pragma once

// The crash loops every operation that changes a library goes through.

#include <QString>
#include <functional>

class TJOV;

// Runs an operation on the library at dataPath (with its index at indexPath) again and
// again: first whole, which gives the new files; then failing the k-th step for every
// k; then cutting the power at every k, with `seeds` random disks each.  After each run
// the library is opened again (which recovers it) and both files must be exactly the
// old ones or exactly the new ones, with no journal left, and a run that reported
// success must have left the new ones.  The history beside the library (laid again as it
// was before every run) must fit the files that stand; an undoable run's new files undo
// to the old ones and redo to the new.  run opens nothing itself: it gets the library
// opened and returns the operation's result (false or an EJovError: failed).  Returns
// the number of steps of the whole run.  The files are left as the whole run left them,
// and the history as it was before.
int ExpectCrashSafe(const QString& dataPath, const QString& indexPath,
                    const std::function<bool(TJOV&)>& run, int seeds = 40,
                    bool undoable = true);

// The same loops for an operation that writes a library's pair anew and switches it in
// (creating a library): before it the pair may be there or not, and every run must
// leave exactly the old pair (or none) or exactly the new one, with no switch record
// left once the library has been opened again.
int ExpectCreateCrashSafe(const QString& dataPath, const QString& indexPath,
                          const std::function<bool()>& run, int seeds = 40);

// Expects jov to describe the library at path as a fresh opening does: the same image
// count and index entries.
void ExpectDescribesFiles(TJOV& jov, const QString& path);

// A folder for crash loops: memory-backed where the machine has one, so that thousands
// of runs stay quick (the loops simulate the disk themselves).
QString ScratchTemplate();
