#pragma once

// TOpenDialog: the file-open dialog of the main window.  Tests replace the dialog
// itself through ExecuteHook, so that no modal window waits for a user.

#include <QString>
#include <functional>

class QWidget;

class TOpenDialog {
 public:
  // Qt's filter form, e.g. "jov (*.jov);;All (*)".
  QString Filter;
  QString Title;
  // The chosen file after Execute returned true.
  QString FileName;

  // Shows the dialog modally over parent; false when it was cancelled.
  bool Execute(QWidget* parent);

  // When set, Execute calls it instead of showing a dialog.
  static std::function<bool(TOpenDialog&)> ExecuteHook;
};
