#pragma once

#include <QStringList>

// jovtool sheet LIB OUT.png [--from N] [--to M] [--columns C] [--scale S]
int CmdSheet(const QStringList& args);
// jovtool gif LIB OUT.gif [--from N] [--to M] [--fps F] [--loop K] [--no-placement]
int CmdGif(const QStringList& args);
