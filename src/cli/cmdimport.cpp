// jovtool import: the batch-import dialog's runs.  The checks the dialog makes come first,
// with its messages; then the run is one transaction, all or nothing.

#include "cli/cmdimport.h"

#include <QFileInfo>

#include "cli/cliutil.h"
#include "cli/cmdedit.h"
#include "common/errors.h"
#include "editing/batchimport.h"
#include "editing/exchange.h"
#include "library/myjov.h"

namespace {

struct Mode {
  const char* flag;
  int numbers;  // B, or B and E, after the folder
};
constexpr Mode kModes[] = {
    {"--add", 0}, {"--insert", 1}, {"--replace", 2}, {"--pixels", 2}, {"--placements", 2}};

}  // namespace

int CmdImport(const QStringList& raw) {
  QStringList flags;
  for (const Mode& m : kModes) flags << QLatin1String(m.flag);
  const Args args =
      SplitArgs(raw, flags, {QStringLiteral("--placement"), QStringLiteral("--format")});
  const TPictureFileFormat format = FormatOption(args);
  const Mode* mode = nullptr;
  for (const Mode& m : kModes) {
    if (!args.Has(QLatin1String(m.flag))) continue;
    if (mode != nullptr)
      throw UsageError{
          QStringLiteral("import takes one of --add, --insert, "
                         "--replace, --pixels, --placements")};
    mode = &m;
  }
  if (mode == nullptr)
    throw UsageError{
        QStringLiteral("import needs --add, --insert, --replace, --pixels or "
                       "--placements")};
  const QString flag = QLatin1String(mode->flag);
  const auto placementOption = args.options.find(QStringLiteral("--placement"));
  const bool typedPair = placementOption != args.options.end();
  if (typedPair && flag == QLatin1String("--pixels"))
    throw UsageError{QStringLiteral("--pixels takes no --placement")};
  // LIB, DIR and the numbers; X/Y with a typed pair needs no folder.
  const qsizetype withDir = 2 + mode->numbers;
  const bool dirLeftOut =
      typedPair && flag == QLatin1String("--placements") && args.positional.size() == withDir - 1;
  if (args.positional.size() != withDir && !dirLeftOut)
    throw UsageError{QStringLiteral("import %1 takes LIB DIR%2")
                         .arg(flag)
                         .arg(mode->numbers == 0   ? QString()
                              : mode->numbers == 1 ? QStringLiteral(" B")
                                                   : QStringLiteral(" B E"))};
  const QString lib = args.positional[0];
  const QString dir = dirLeftOut ? QString() : args.positional[1];
  const qsizetype first = dirLeftOut ? 1 : 2;
  int begin = 0, end = 0;
  if (mode->numbers >= 1) begin = ParseNumber(args.positional[first], QStringLiteral("B"));
  if (mode->numbers == 2) end = ParseNumber(args.positional[first + 1], QStringLiteral("E"));

  TImportPlacements placements;
  if (typedPair) {
    const TPlacementPair pair = ParsePlacementPair(placementOption->second);
    placements.newLike = true;
    placements.pair = {pair.x, pair.y};
  }

  TJOV jov;
  OpenLibrary(jov, lib);
  if (jov.FileType() == TFileType::RunCoded)
    throw Failure{QStringLiteral("%1 holds run-coded 16-bit images, which are read only").arg(lib)};
  if (!dir.isEmpty() && !QFileInfo(dir).isDir())
    throw Failure{QStringLiteral("%1 is not a folder").arg(dir)};
  const bool placementsOnly = flag == QLatin1String("--placements");
  if (mode->numbers == 1) end = begin;
  if (mode->numbers >= 1 && (begin < 0 || end < begin || end >= jov.ImageCount()))
    throw Failure{placementsOnly ? QStringLiteral("请输入正确的格式")
                                 : QStringLiteral("请输入正确的编号")};
  const QStringList files = placementsOnly ? QStringList() : ListBitmapFiles(dir, format);
  if (mode->numbers == 2 && !placementsOnly && files.size() < int64_t(end) - begin + 1)
    throw Failure{QStringLiteral("图片数目不够！")};

  TProgressBar bar(args.Quiet());
  TOperationDelegate* progress = &bar;
  try {
    if (flag == QLatin1String("--add"))
      ImportAdd(jov, dir, files, placements, progress);
    else if (flag == QLatin1String("--insert"))
      ImportInsert(jov, dir, files, placements, begin, progress);
    else if (flag == QLatin1String("--replace"))
      ImportReplace(jov, dir, files, placements, begin, end, progress);
    else if (flag == QLatin1String("--pixels"))
      ImportPixels(jov, dir, begin, end, progress, format);
    else
      ImportPlacements(jov, dir, placements, begin, end, progress);
  } catch (const EJovError& e) {
    throw Failure{QStringLiteral("批量导入失败: %1").arg(e.Message())};
  }
  if (!args.Quiet()) PrintOut(QStringLiteral("批量导入成功\n"));
  return 0;
}
