#pragma once

#include <QStringList>

// jovtool replace LIB INDEX PICTURE
int CmdReplace(const QStringList& args);
// jovtool add LIB PICTURE [--insert-at INDEX] [--placement X,Y]
int CmdAdd(const QStringList& args);
// jovtool set-placement LIB INDEX X Y
int CmdSetPlacement(const QStringList& args);
// jovtool delete LIB S E
int CmdDelete(const QStringList& args);
// jovtool clear LIB S E
int CmdClear(const QStringList& args);
