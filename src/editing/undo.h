#pragma once

// Undo and redo of a library's changes, from its history beside it (library/history.h).
// Each is one change of the library, all or nothing like every other, and keeps the
// history consistent with the files whatever stops it.

#include "library/history.h"

class TJOV;
class TOperationDelegate;

// The change the next undo (role Undo) or redo (role Redo) would apply; at 0 when there
// is none.  Takes the writer's lock for the moment of reading.
THistoryStep NextStep(TJOV& jov, THistoryRole role);

// Undoes the newest change that is done, or redoes the newest undone one.  Throws
// EJovError with the reason when there is none, when the library is no longer in the
// state it left, or when the change fails; ECancelled when the delegate stops it.
// Returns what it undid or redid.
QString UndoOrRedo(TJOV& jov, THistoryRole role, TOperationDelegate* delegate = nullptr);

// Clears the library's history: its changes can no longer be undone, and the next one
// starts a new history.
void ClearLibraryHistory(TJOV& jov);
