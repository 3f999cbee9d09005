// jovtool check: opens a library (which recovers an interrupted change) and lists its
// structural problems.

#include "cli/cmdcheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "cli/cliutil.h"
#include "library/jovcheck.h"
#include "library/myjov.h"

int CmdCheck(const QStringList& raw) {
  const Args args = SplitArgs(raw, {QStringLiteral("--json")});
  if (args.positional.size() != 1) throw UsageError{QStringLiteral("check takes one library")};
  TJOV jov;
  OpenLibrary(jov, args.positional[0]);
  const std::vector<TProblem> problems = CheckLibrary(jov);
  if (args.Has(QStringLiteral("--json"))) {
    QJsonArray list;
    for (const TProblem& p : problems)
      list.append(
          QJsonObject{{QStringLiteral("index"), p.index < 0 ? QJsonValue() : QJsonValue(p.index)},
                      {QStringLiteral("problem"), p.problem}});
    const QJsonObject root{{QStringLiteral("file"), jov.FileName()},
                           {QStringLiteral("problems"), list}};
    PrintOut(QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented)));
  } else if (problems.empty()) {
    if (!args.Quiet()) PrintOut(QStringLiteral("ok\n"));
  } else {
    QString out;
    for (const TProblem& p : problems) out += p.problem + QLatin1Char('\n');
    PrintOut(out);
  }
  if (problems.empty()) return 0;
  PrintErr(QStringLiteral("jovtool: %1\n").arg(problems.front().problem));
  return 1;
}
