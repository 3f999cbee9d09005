#pragma once

// The editing dialogs as the main window knows them: shown modally from its buttons,
// each prepared as its button prepares it.

#include <optional>

#include "editing/requests.h"

enum class TEditingDialog { Export, BatchImport, Create, Delete, Add };

class TEditingDialogs {
 public:
  virtual ~TEditingDialogs() = default;
  // Shows the dialog until it closes; the outcome of the run that closed it, if one did.
  virtual std::optional<TOutcome> Show(TEditingDialog which) = 0;
};
