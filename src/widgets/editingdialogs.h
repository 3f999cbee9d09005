#pragma once

// The editing dialogs as the main window knows them: shown modally from its buttons,
// each prepared as its button prepares it.

#include <QString>
#include <optional>

#include "editing/requests.h"

enum class TEditingDialog { Export, BatchImport, Create, Delete, Add };

// What the window fills in when it opens a dialog for something chosen in it (a range of
// thumbnails, pictures dropped on the grid), over what the dialog's button sets.  Empty:
// the dialog as its button opens it.
struct TDialogFill {
  std::optional<std::pair<int, int>> range;  // the begin and end fields
  QString folder;                            // the folder of pictures, when not empty
  std::optional<TPictureFileFormat> format;  // the kind of picture file it gives
  std::optional<int> insertAt;               // whole images inserted before this one
};

class TEditingDialogs {
 public:
  virtual ~TEditingDialogs() = default;
  // Shows the dialog until it closes; the outcome of the run that closed it, if one did.
  virtual std::optional<TOutcome> Show(TEditingDialog which, const TDialogFill& fill) = 0;
};
