// jovtool undo, redo and history: the library's history beside it, as the window's Undo
// and Redo buttons use it.

#include "cli/cmdhistory.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "cli/cliutil.h"
#include "editing/requests.h"
#include "editing/undo.h"
#include "library/history.h"
#include "library/myjov.h"

namespace {

int RunStep(const QStringList& raw, bool redo) {
  const Args args = SplitArgs(raw, {});
  args.ExpectPositionals(1, (redo ? QStringLiteral("redo") : QStringLiteral("undo")) +
                                QStringLiteral(" takes one library"));
  THistoryStepRequest request;
  request.redo = redo;
  return RunRequest(args, request);
}

QString When(int64_t ms) {
  return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString(
      QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString Size(int64_t bytes) {
  if (bytes < 10 * 1024) return QStringLiteral("%1 B").arg(bytes);
  if (bytes < 10 << 20) return QStringLiteral("%1 KiB").arg((bytes + 512) / 1024);
  return QStringLiteral("%1 MiB").arg((bytes + (1 << 19)) >> 20);
}

QJsonArray JsonEntries(const std::vector<THistoryEntry>& entries) {
  QJsonArray array;
  for (const THistoryEntry& e : entries)
    array.append(
        QJsonObject{{QStringLiteral("what"), e.what},
                    {QStringLiteral("when"),
                     QDateTime::fromMSecsSinceEpoch(e.whenMs, Qt::UTC).toString(Qt::ISODate)},
                    {QStringLiteral("bytes"), double(e.bytes)},
                    {QStringLiteral("refused"), e.refused}});
  return array;
}

}  // namespace

int CmdUndo(const QStringList& raw) {
  return RunStep(raw, false);
}

int CmdRedo(const QStringList& raw) {
  return RunStep(raw, true);
}

int CmdHistory(const QStringList& raw) {
  const Args args = SplitArgs(raw, {QStringLiteral("--json"), QStringLiteral("--clear")});
  args.ExpectPositionals(1, QStringLiteral("history takes one library"));
  if (args.Has(QStringLiteral("--json")) && args.Has(QStringLiteral("--clear")))
    throw UsageError{QStringLiteral("history takes --json or --clear, not both")};
  TJOV jov;
  OpenLibrary(jov, args.positional[0]);
  if (args.Has(QStringLiteral("--clear"))) {
    if (const TValidation refusal = THistoryStepRequest{}.Validate(jov)) Refuse(*refusal);
    ClearLibraryHistory(jov);
    if (!args.Quiet()) PrintOut(QStringLiteral("history cleared\n"));
    return 0;
  }
  const THistoryListing listing = ListHistory(jov.Paths());
  if (args.Has(QStringLiteral("--json"))) {
    const QJsonObject root{{QStringLiteral("file"), jov.FileName()},
                           {QStringLiteral("changedElsewhere"), listing.changedElsewhere},
                           {QStringLiteral("bytes"), double(listing.fileBytes)},
                           {QStringLiteral("done"), JsonEntries(listing.done)},
                           {QStringLiteral("undone"), JsonEntries(listing.undone)}};
    PrintOut(QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented)));
    return 0;
  }
  // The changes in the order they were made; undone ones (the next to redo first) after
  // the done ones, whose last line is the next to undo.
  QString out;
  auto line = [&](const THistoryEntry& e, const QString& side) {
    out +=
        QStringLiteral("%1  %2  %3  %4%5\n")
            .arg(side, When(e.whenMs), Size(e.bytes).rightJustified(8), e.what,
                 e.refused ? QStringLiteral("  (refused: the library changed since)") : QString());
  };
  for (auto e = listing.done.rbegin(); e != listing.done.rend(); ++e)
    line(*e, QStringLiteral("done  "));
  for (const THistoryEntry& e : listing.undone) line(e, QStringLiteral("undone"));
  if (listing.done.empty() && listing.undone.empty() && !args.Quiet())
    out += QStringLiteral("no history\n");
  if (listing.changedElsewhere && !args.Quiet())
    out += QStringLiteral(
        "note: the library was changed by a program that keeps no history; clear the history "
        "to start a new one\n");
  PrintOut(out);
  return 0;
}
