#pragma once

#include <QStringList>

// jovtool export-one LIB INDEX FILE
int CmdExportOne(const QStringList& args);
// jovtool export LIB DIR [--from N] [--to M]
int CmdExport(const QStringList& args);
