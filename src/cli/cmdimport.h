#pragma once

#include <QStringList>

// jovtool import LIB DIR --add | --insert B | --replace B E | --pixels B E | --placements B E
// [--placement X,Y]; with --placements and --placement the folder may be left out.
int CmdImport(const QStringList& args);
