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
  args.ExpectPositionals(1, QStringLiteral("check takes one library"));
  TJOV jov;
  OpenLibrary(jov, args.positional[0]);
  std::vector<TProblem> problems, notes;
  TGaps gaps;
  for (const TProblem& p : CheckLibrary(jov, &gaps)) (p.note ? notes : problems).push_back(p);
  auto list = [](const std::vector<TProblem>& items) {
    QJsonArray array;
    for (const TProblem& p : items)
      array.append(
          QJsonObject{{QStringLiteral("index"), p.index < 0 ? QJsonValue() : QJsonValue(p.index)},
                      {QStringLiteral("problem"), p.problem}});
    return array;
  };
  if (args.Has(QStringLiteral("--json"))) {
    const QJsonObject root{{QStringLiteral("file"), jov.FileName()},
                           {QStringLiteral("problems"), list(problems)},
                           {QStringLiteral("notes"), list(notes)},
                           {QStringLiteral("gapBytes"), double(gaps.total)},
                           {QStringLiteral("largestGap"), double(gaps.largest)}};
    PrintOut(QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented)));
  } else {
    QString out;
    for (const TProblem& p : problems) out += p.problem + QLatin1Char('\n');
    if (!args.Quiet())
      for (const TProblem& p : notes)
        out += QStringLiteral("note: ") + p.problem + QLatin1Char('\n');
    if (problems.empty() && !args.Quiet()) out += QStringLiteral("ok\n");
    // Only a library with gaps says so: one without reads as it always did.
    if (gaps.total > 0 && !args.Quiet())
      out += QStringLiteral("gaps: %1 bytes between records, the largest %2\n")
                 .arg(gaps.total)
                 .arg(gaps.largest);
    PrintOut(out);
  }
  if (problems.empty()) return 0;
  PrintErr(QStringLiteral("jovtool: %1\n").arg(problems.front().problem));
  return 1;
}
