#pragma once

// The file and folder dialogs of the windows.  Tests replace each dialog itself through
// its ExecuteHook, so that no modal window waits for a user.

#include <QString>
#include <functional>

class QWidget;

// TOpenDialog: the file-open dialog of the main window.
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

// TSaveDialog: a file-save dialog.  A name typed without an extension gets DefaultExt;
// an existing file is chosen without a question (the caller replaces it).
class TSaveDialog {
 public:
  // Qt's filter form, e.g. "Bitmaps (*.bmp)".  Patterns match without regard to case.
  QString Filter;
  QString Title;
  // With its dot, e.g. ".bmp".  A name typed without extension gets the extension of
  // the filter chosen, or this one when the filter names none.
  QString DefaultExt;
  // After Execute returned true: the filter entry chosen, e.g. "Bitmaps (*.bmp)".
  QString SelectedFilter;
  // Before Execute: the name suggested (a bare name opens in the folder used last).
  // After Execute returned true: the chosen path.
  QString FileName;

  bool Execute(QWidget* parent);

  static std::function<bool(TSaveDialog&)> ExecuteHook;

 private:
  QString folder_;
};

// TFolderPicker: chooses a folder.  It shows Prompt, opens at the folder chosen last,
// shows the path of the folder selected and offers a "New folder" button.
class TFolderPicker {
 public:
  QString Prompt;
  // The folder chosen last; after Execute returned true, the folder just chosen.
  QString Folder;

  // False when cancelled; Folder is then unchanged.
  bool Execute(QWidget* parent);

  static std::function<bool(TFolderPicker&)> ExecuteHook;
};
