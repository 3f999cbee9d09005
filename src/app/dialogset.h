#pragma once

// The five editing dialogs, made once in the start-up order as children of the main
// window, behind the interface the window knows them by.

#include <array>

#include "widgets/editingdialogs.h"

class QWidget;
class TDialogHost;
class TJovDialog;

class TDialogSet final : public TEditingDialogs {
 public:
  // window is the host's window: the dialogs' parent, which they are centred on.
  TDialogSet(TDialogHost& host, QWidget* window);
  std::optional<TOutcome> Show(TEditingDialog which, const TDialogFill& fill) override;

 private:
  // In the order of TEditingDialog; the window owns them.
  std::array<TJovDialog*, 5> dialogs_;
};
