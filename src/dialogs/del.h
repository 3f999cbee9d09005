#pragma once

// The delete dialog: removes or blanks a range of images.

#include "dialogs/jovdialog.h"

class TFormdel : public TJovDialog {
  Q_OBJECT

 public:
  explicit TFormdel(TFormMain& main);
};
