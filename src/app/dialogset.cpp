#include "app/dialogset.h"

#include "dialogs/addone.h"
#include "dialogs/addpic.h"
#include "dialogs/del.h"
#include "dialogs/newlib.h"
#include "dialogs/outpic.h"

TDialogSet::TDialogSet(TDialogHost& host, QWidget* window)
    : dialogs_{new TFormout(host, window), new TFormadd(host, window),
               new TFormnew(host, window), new TFormdel(host, window),
               new TFormaddone(host, window)} {}

std::optional<TOutcome> TDialogSet::Show(TEditingDialog which, const TDialogFill& fill) {
  return dialogs_[size_t(which)]->Execute(fill);
}
