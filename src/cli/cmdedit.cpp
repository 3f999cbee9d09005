// jovtool replace, add and set-placement: "Import At", the add-one dialog and the X and Y
// buttons.  Each change is one transaction: all or nothing, whatever stops the command.

#include "cli/cmdedit.h"

#include "cli/cliutil.h"
#include "editing/pictureloader.h"
#include "library/myjov.h"

namespace {

// Opens LIB for a change: only the 8-bit variants are written.
void OpenForChange(TJOV& jov, const QString& path) {
  OpenLibrary(jov, path);
  if (jov.FileType == 2)
    throw Failure{QStringLiteral("%1 holds run-coded 16-bit images, which are read only").arg(path)};
}

void CheckIndex(const TJOV& jov, int index) {
  if (index < 0 || index >= jov.ImageCount)
    throw Failure{QStringLiteral("image %1 is not in the library (it has %2 images)")
                      .arg(index)
                      .arg(jov.ImageCount)};
}

}  // namespace

TPlacementPair ParsePlacementPair(const QString& text) {
  // Text before the first comma gives x, text after it y; without a comma x is 0 and the
  // whole text gives y.  Unlike the dialogs' field, each number must read whole.
  const qsizetype comma = text.indexOf(QLatin1Char(','));
  const QString what = QStringLiteral("--placement");
  if (comma < 0) return {0, ParseNumber(text, what)};
  return {ParseNumber(text.left(comma), what), ParseNumber(text.mid(comma + 1), what)};
}

int CmdReplace(const QStringList& raw) {
  const Args args = SplitArgs(raw, {});
  if (args.positional.size() != 3)
    throw UsageError{QStringLiteral("replace takes LIB INDEX PICTURE")};
  const int index = ParseNumber(args.positional[1], QStringLiteral("INDEX"));
  TJOV jov;
  OpenForChange(jov, args.positional[0]);
  CheckIndex(jov, index);
  TPictureLoader loader;
  const TPicture& picture = loader.Load(args.positional[2]);
  if (!jov.ReplaceImage(index, picture)) throw Failure{QStringLiteral("导入图片失败！")};
  if (!args.Quiet()) PrintOut(QStringLiteral("导入图片成功！\n"));
  return 0;
}

int CmdAdd(const QStringList& raw) {
  const Args args = SplitArgs(raw, {}, {QStringLiteral("--placement")});
  if (args.positional.size() != 2) throw UsageError{QStringLiteral("add takes LIB PICTURE")};
  const auto placement = args.options.find(QStringLiteral("--placement"));
  const TPlacementPair xy =
      placement == args.options.end() ? TPlacementPair{} : ParsePlacementPair(placement->second);
  TJOV jov;
  OpenForChange(jov, args.positional[0]);
  TPictureLoader loader;
  const TPicture& picture = loader.Load(args.positional[1]);
  QString error;
  // Placements are stored in 16 bits: only the low 16 bits are kept.
  if (!jov.AppendImage(picture, int16_t(xy.x), int16_t(xy.y), &error)) throw Failure{error};
  if (!args.Quiet()) PrintOut(QStringLiteral("加入图片成功！\n"));
  return 0;
}

int CmdSetPlacement(const QStringList& raw) {
  const Args args = SplitArgs(raw, {});
  if (args.positional.size() != 4)
    throw UsageError{QStringLiteral("set-placement takes LIB INDEX X Y")};
  const int index = ParseNumber(args.positional[1], QStringLiteral("INDEX"));
  const int x = ParseNumber(args.positional[2], QStringLiteral("X"));
  const int y = ParseNumber(args.positional[3], QStringLiteral("Y"));
  TJOV jov;
  OpenForChange(jov, args.positional[0]);
  CheckIndex(jov, index);
  jov.SetImagePlacement(index, int16_t(x), int16_t(y));
  return 0;
}
