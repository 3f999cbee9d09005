#pragma once

// The add-one dialog: appends or inserts one picture.

#include "dialogs/jovdialog.h"

class TFormaddone : public TJovDialog {
  Q_OBJECT

 public:
  explicit TFormaddone(TFormMain& main);
};
