#pragma once

#include <QStringList>

// jovtool undo LIB / jovtool redo LIB
int CmdUndo(const QStringList& args);
int CmdRedo(const QStringList& args);
// jovtool history LIB [--json] [--clear]
int CmdHistory(const QStringList& args);
