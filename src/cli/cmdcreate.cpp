// jovtool create and compact: the create dialog, and rewriting a library without the
// bytes its edits left behind.  Each writes the pair anew and switches it in at once.

#include "cli/cmdcreate.h"

#include "cli/cliutil.h"
#include "cli/cmdedit.h"
#include "common/errors.h"
#include "editing/createlib.h"
#include "library/myjov.h"

int CmdCreate(const QStringList& raw) {
  const Args args = SplitArgs(
      raw, {},
      {QStringLiteral("--palette"), QStringLiteral("--placement"), QStringLiteral("--format")});
  if (args.positional.size() != 2) throw UsageError{QStringLiteral("create takes LIB DIR")};
  TCreateOptions options;
  options.format = FormatOption(args);
  options.dataPath = args.positional[0];
  options.folder = args.positional[1];
  if (const auto palette = args.options.find(QStringLiteral("--palette"));
      palette != args.options.end()) {
    if (palette->second == QLatin1String("bmp"))
      options.paletteFromFirstBitmap = true;
    else if (palette->second != QLatin1String("system"))
      throw UsageError{QStringLiteral("--palette is system or bmp, not %1").arg(palette->second)};
  }
  if (const auto placement = args.options.find(QStringLiteral("--placement"));
      placement != args.options.end()) {
    const TPlacementPair xy = ParsePlacementPair(placement->second);
    options.placement = TPlacement{xy.x, xy.y};
  }
  TProgressBar bar(args.Quiet());
  try {
    CreateLibrary(options, &bar);
  } catch (const EJovError& e) {
    throw Failure{QStringLiteral("建立新文件失败! %1").arg(e.Message())};
  }
  if (!args.Quiet()) PrintOut(QStringLiteral("建立新文件成功!\n"));
  return 0;
}

int CmdCompact(const QStringList& raw) {
  const Args args = SplitArgs(raw, {});
  if (args.positional.size() != 1) throw UsageError{QStringLiteral("compact takes LIB")};
  TJOV jov;
  OpenLibrary(jov, args.positional[0]);
  if (jov.FileType() == TFileType::RunCoded)
    throw Failure{QStringLiteral("%1 holds run-coded 16-bit images, which are read only")
                      .arg(args.positional[0])};
  TProgressBar bar(args.Quiet());
  const int64_t freed = CompactLibrary(jov, &bar);
  if (!args.Quiet()) PrintOut(QStringLiteral("freed %1 bytes\n").arg(freed));
  return 0;
}
