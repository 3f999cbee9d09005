#pragma once

// The handling of errors that no handler catches.  Every event handler that can throw
// runs inside Guarded: an error that escapes it ends that handler at the point where it
// was raised, its message is shown in the error box, and control returns to the message
// loop with the windows as they were.

#include <QString>
#include <exception>
#include <functional>

// Shows the message of an error that reached the application.  The main window installs
// its error box here; without one the message goes to stderr.
void ShowUnhandledError(const QString& message);
void SetUnhandledErrorReporter(std::function<void(const QString&)> reporter);

// The message of the error being handled (call inside a catch block).
QString CurrentErrorMessage();

template <class F>
void Guarded(F&& handler) {
  try {
    handler();
  } catch (...) {
    ShowUnhandledError(CurrentErrorMessage());
  }
}
