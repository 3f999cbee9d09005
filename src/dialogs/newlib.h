#pragma once

// The create dialog: makes a new library from a folder of bitmaps.

#include "dialogs/jovdialog.h"

class TFormnew : public TJovDialog {
  Q_OBJECT

 public:
  explicit TFormnew(TFormMain& main);
};
