#pragma once

// The batch-import dialog: brings a folder of bitmaps into the library.

#include "dialogs/jovdialog.h"

class TFormadd : public TJovDialog {
  Q_OBJECT

 public:
  explicit TFormadd(TFormMain& main);
};
