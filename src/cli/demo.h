#pragma once

// jovtool demo: small libraries of every variant, written byte by byte, for trying the
// viewer out.

#include <QStringList>

// Writes the demo libraries into dir (made when missing) and returns the data files
// written.  Throws EJovError when a file cannot be written.
QStringList WriteDemoLibraries(const QString& dir);

// The command: jovtool demo DIR [--quiet].  Returns the exit status; a wrong command
// line throws UsageError.
int CmdDemo(const QStringList& args);
