#include "editing/undo.h"

#include "library/myjov.h"
#include "library/transaction.h"

THistoryStep NextStep(TJOV& jov, THistoryRole role) {
  THistoryStep step;
  if (!jov.IsOpen()) return step;
  jov.Change([&](TJovTransaction& t) { step = NextHistoryStep(t, t.Files(), role); });
  return step;
}

QString UndoOrRedo(TJOV& jov, THistoryRole role, TOperationDelegate* delegate) {
  QString what;
  jov.Change(
      [&](TJovTransaction& t) {
        const THistoryStep step = NextHistoryStep(t, t.Files(), role);
        if (step.at == 0)
          throw EJovError(role == THistoryRole::Undo ? QStringLiteral("There is nothing to undo.")
                                                     : QStringLiteral("There is nothing to redo."));
        ApplyHistoryStep(t, t.Files(), step, role);
        t.Commit();
        what = step.entry.what;
        jov.RefreshFromFiles();
      },
      TChangeKind::Edit, delegate);
  return what;
}

void ClearLibraryHistory(TJOV& jov) {
  jov.Change([&](TJovTransaction& t) { ClearHistory(t, t.Files()); });
}
