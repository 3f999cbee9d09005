#pragma once

#include <QString>
#include <QStringList>

// A placement pair "X,Y" as the "New Like" field reads it.
struct TPlacementPair {
  int x = 0;
  int y = 0;
};
TPlacementPair ParsePlacementPair(const QString& text);

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
