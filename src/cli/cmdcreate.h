#pragma once

#include <QStringList>

// jovtool create LIB DIR [--palette system|bmp] [--placement X,Y]
int CmdCreate(const QStringList& raw);
// jovtool compact LIB
int CmdCompact(const QStringList& raw);
