// jovtool create and compact: the create dialog, and rewriting a library without the
// bytes its edits left behind.  Each writes the pair anew and switches it in at once.

#include "cli/cmdcreate.h"

#include "cli/cliutil.h"
#include "editing/requests.h"
#include "library/myjov.h"

int CmdCreate(const QStringList& raw) {
  const Args args = SplitArgs(
      raw, {},
      {QStringLiteral("--palette"), QStringLiteral("--placement"), QStringLiteral("--format")});
  args.ExpectPositionals(2, QStringLiteral("create takes LIB DIR"));
  TCreateRequest request;
  request.format = FormatOption(args);
  request.dataPath = args.positional[0];
  request.folder = args.positional[1];
  if (const auto palette = args.options.find(QStringLiteral("--palette"));
      palette != args.options.end()) {
    if (palette->second == QLatin1String("bmp"))
      request.paletteFromFirstBitmap = true;
    else if (palette->second != QLatin1String("system"))
      throw UsageError{QStringLiteral("--palette is system or bmp, not %1").arg(palette->second)};
  }
  if (const auto placement = args.options.find(QStringLiteral("--placement"));
      placement != args.options.end())
    request.placement = ParsePlacementOption(placement->second);
  if (const TValidation refusal = request.Validate()) Refuse(*refusal);
  TCancelSignals cancelOnSignal;
  TProgressBar bar(args.Quiet());
  return Finish(request.Run(&bar), args);
}

int CmdCompact(const QStringList& raw) {
  const Args args = SplitArgs(raw, {});
  args.ExpectPositionals(1, QStringLiteral("compact takes LIB"));
  TCompactRequest request;
  return RunRequest(args, request);
}
