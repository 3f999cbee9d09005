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
// jovtool add LIB PICTURE [--placement X,Y]
int CmdAdd(const QStringList& args);
// jovtool set-placement LIB INDEX X Y
int CmdSetPlacement(const QStringList& args);
