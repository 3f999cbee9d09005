// jovtool export-one and export: the viewer's "Export At" and sequence export.

#include "cli/cmdexport.h"

#include "cli/cliutil.h"
#include "editing/requests.h"
#include "library/myjov.h"

int CmdExportOne(const QStringList& raw) {
  const Args args = SplitArgs(raw, {}, {QStringLiteral("--format")});
  TExportOneRequest request;
  request.format = FormatOption(args);
  args.ExpectPositionals(3, QStringLiteral("export-one takes LIB INDEX FILE"));
  request.index = ParseNumber(args.positional[1], QStringLiteral("INDEX"));
  request.path = args.positional[2];
  return RunRequest(args, request);
}

int CmdExport(const QStringList& raw) {
  const Args args = SplitArgs(
      raw, {}, {QStringLiteral("--from"), QStringLiteral("--to"), QStringLiteral("--format")});
  TExportRangeRequest request;
  request.format = FormatOption(args);
  args.ExpectPositionals(2, QStringLiteral("export takes LIB DIR"));
  request.folder = args.positional[1];
  const auto from = args.options.find(QStringLiteral("--from"));
  const auto to = args.options.find(QStringLiteral("--to"));
  // By default everything: the end is clamped to the last image.
  request.beginText = from == args.options.end() ? QStringLiteral("0") : from->second;
  request.endText = to == args.options.end() ? QString::number(INT32_MAX) : to->second;
  ParseNumber(request.beginText, QStringLiteral("--from"));
  ParseNumber(request.endText, QStringLiteral("--to"));
  return RunRequest(args, request);
}
