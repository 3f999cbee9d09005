#pragma once

// Runs the jovtool built with the tests, as a user runs it.

#include <QProcess>
#include <QString>
#include <QStringList>

struct ToolRun {
  int code;
  QString out;
  QString err;
};

inline ToolRun Jovtool(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(JOVTOOL_PATH), args);
  p.waitForFinished(60000);
  return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
          QString::fromUtf8(p.readAllStandardError())};
}
