// jovtool import: the batch-import dialog's runs.  The checks the dialog makes come first,
// with its messages; then the run is one transaction, all or nothing.

#include "cli/cmdimport.h"

#include "cli/cliutil.h"
#include "editing/requests.h"
#include "library/myjov.h"

namespace {

using Mode = TBatchImportRequest::Mode;

struct TModeFlag {
  const char* flag;
  Mode mode;
  int numbers;  // B, or B and E, after the folder
};
constexpr TModeFlag kModes[] = {{"--add", Mode::Add, 0},
                                {"--insert", Mode::Insert, 1},
                                {"--replace", Mode::Replace, 2},
                                {"--pixels", Mode::Pixels, 2},
                                {"--placements", Mode::Placements, 2}};

const TModeFlag& ChosenMode(const Args& args) {
  const TModeFlag* chosen = nullptr;
  for (const TModeFlag& m : kModes) {
    if (!args.Has(QLatin1String(m.flag))) continue;
    if (chosen != nullptr)
      throw UsageError{
          QStringLiteral("import takes one of --add, --insert, --replace, --pixels, --placements")};
    chosen = &m;
  }
  if (chosen == nullptr)
    throw UsageError{
        QStringLiteral("import needs --add, --insert, --replace, --pixels or --placements")};
  return *chosen;
}

}  // namespace

int CmdImport(const QStringList& raw) {
  QStringList flags;
  for (const TModeFlag& m : kModes) flags << QLatin1String(m.flag);
  const Args args =
      SplitArgs(raw, flags, {QStringLiteral("--placement"), QStringLiteral("--format")});
  TBatchImportRequest request;
  request.format = FormatOption(args);
  const TModeFlag& mode = ChosenMode(args);
  request.mode = mode.mode;
  const auto placementOption = args.options.find(QStringLiteral("--placement"));
  const bool typedPair = placementOption != args.options.end();
  if (typedPair && mode.mode == Mode::Pixels)
    throw UsageError{QStringLiteral("--pixels takes no --placement")};
  // LIB, DIR and the numbers; X/Y with a typed pair needs no folder.
  const qsizetype withDir = 2 + mode.numbers;
  const bool dirLeftOut =
      typedPair && mode.mode == Mode::Placements && args.positional.size() == withDir - 1;
  if (args.positional.size() != withDir && !dirLeftOut)
    throw UsageError{QStringLiteral("import %1 takes LIB DIR%2")
                         .arg(QLatin1String(mode.flag))
                         .arg(mode.numbers == 0   ? QString()
                              : mode.numbers == 1 ? QStringLiteral(" B")
                                                  : QStringLiteral(" B E"))};
  request.folder = dirLeftOut ? QString() : args.positional[1];
  const qsizetype first = dirLeftOut ? 1 : 2;
  if (mode.numbers >= 1) request.beginText = args.positional[first];
  // Insert checks its end as the dialog does, which holds the begin there.
  request.endText = mode.numbers == 2 ? args.positional[first + 1] : request.beginText;
  ParseNumber(request.beginText, QStringLiteral("B"));
  ParseNumber(request.endText, QStringLiteral("E"));
  if (typedPair) {
    request.newLike = true;
    request.pair = ParsePlacementOption(placementOption->second);
  }

  return RunRequest(args, request);
}
