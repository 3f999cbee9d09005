#pragma once

#include <QStringList>

// jovtool check LIB [--json]
int CmdCheck(const QStringList& args);
