#pragma once

// The sequence-export dialog: writes a range of images as an exchange folder.

#include "editing/dialogs/jovdialog.h"

class TFormout : public TJovDialog {
  Q_OBJECT

 public:
  explicit TFormout(TFormMain& main);
};
