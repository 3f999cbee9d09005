#include "library/libstamp.h"

#include "common/errors.h"
#include "library/journal.h"

bool TJournalProbe::Hot(const QString& journalPath) {
  // The title is read every time: a stamp cannot tell a title written over a complete
  // journal within the same tick of the file system's clock.
  if (!StampAt(journalPath).Exists()) return false;
  try {
    return JournalHasTitle(*TFile::Open(journalPath, TFile::Mode::Read));
  } catch (const EJovError&) {
    return true;  // there, and not known to be idle
  }
}

TLibraryStamp TLibraryStamp::Of(const TLibraryPaths& paths, TJournalProbe* probe) {
  TJournalProbe once;
  TJournalProbe& journal = probe ? *probe : once;
  auto underway = [&] { return StampAt(paths.Switch()).Exists() || journal.Hot(paths.Journal()); };
  TLibraryStamp s;
  // Looked at before and after: stamps taken while a change began or ended are not
  // taken for a settled state.
  s.underway = underway();
  s.data = StampAt(paths.Data());
  s.index = StampAt(paths.Index());
  s.history = StampAt(paths.History());
  s.underway = underway() || s.underway;
  return s;
}

TLibraryChange CompareToShown(const TLibraryStamp& shown, const TLibraryStamp& now) {
  if (now.underway) return TLibraryChange::Underway;
  // Files read while a change was under way are read again once it has gone by.
  return now.SameFiles(shown) && !shown.underway ? TLibraryChange::None : TLibraryChange::Committed;
}
