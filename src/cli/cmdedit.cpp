// jovtool replace, add and set-placement: "Import At", the add-one dialog and the X and Y
// buttons.  Each change is one transaction: all or nothing, whatever stops the command.

#include "cli/cmdedit.h"

#include "cli/cliutil.h"
#include "common/errors.h"
#include "editing/pictureloader.h"
#include "editing/rangeedit.h"
#include "library/myjov.h"

namespace {

// Opens LIB for a change: only the 8-bit variants are written.
void OpenForChange(TJOV& jov, const QString& path) {
  OpenLibrary(jov, path);
  if (jov.FileType() == TFileType::RunCoded)
    throw Failure{
        QStringLiteral("%1 holds run-coded 16-bit images, which are read only").arg(path)};
}

void CheckIndex(const TJOV& jov, int index) {
  if (index < 0 || index >= jov.ImageCount())
    throw Failure{QStringLiteral("image %1 is not in the library (it has %2 images)")
                      .arg(index)
                      .arg(jov.ImageCount())};
}

// jovtool delete / clear LIB S E: checked as the delete dialog checks its fields.
int RunRange(const QStringList& raw, bool clear) {
  const Args args = SplitArgs(raw, {});
  const QString name = clear ? QStringLiteral("clear") : QStringLiteral("delete");
  if (args.positional.size() != 3) throw UsageError{name + QStringLiteral(" takes LIB S E")};
  const int s = ParseNumber(args.positional[1], QStringLiteral("S"));
  const int e = ParseNumber(args.positional[2], QStringLiteral("E"));
  TJOV jov;
  OpenForChange(jov, args.positional[0]);
  if (s < 0 || s >= jov.ImageCount() || e < s || e >= jov.ImageCount())
    throw Failure{QStringLiteral("请输入正确的编号 (images %1 to %2 of %3)")
                      .arg(s)
                      .arg(e)
                      .arg(jov.ImageCount())};
  TProgressBar bar(args.Quiet());
  try {
    if (clear)
      ClearRange(jov, s, e, &bar);
    else
      DeleteRange(jov, s, e, &bar);
  } catch (const EJovError& error) {
    throw Failure{QStringLiteral("删除失败 ") + error.Message()};
  }
  if (!args.Quiet()) PrintOut(QStringLiteral("删除成功\n"));
  return 0;
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
  const Args args =
      SplitArgs(raw, {}, {QStringLiteral("--placement"), QStringLiteral("--insert-at")});
  if (args.positional.size() != 2) throw UsageError{QStringLiteral("add takes LIB PICTURE")};
  const auto placement = args.options.find(QStringLiteral("--placement"));
  const TPlacementPair xy =
      placement == args.options.end() ? TPlacementPair{} : ParsePlacementPair(placement->second);
  const auto insertAt = args.options.find(QStringLiteral("--insert-at"));
  const bool insert = insertAt != args.options.end();
  const int index = insert ? ParseNumber(insertAt->second, QStringLiteral("--insert-at")) : 0;
  TJOV jov;
  OpenForChange(jov, args.positional[0]);
  // Before any image, or at the end (a library without images has only that place).
  if (insert && (index < 0 || index > jov.ImageCount()))
    throw Failure{QStringLiteral("cannot insert before image %1: the library has %2 images")
                      .arg(index)
                      .arg(jov.ImageCount())};
  TPictureLoader loader;
  const TPicture& picture = loader.Load(args.positional[1]);
  QString error;
  // Placements are stored in 16 bits: only the low 16 bits are kept.
  bool added = true;
  if (insert) {
    TProgressBar bar(args.Quiet());
    try {
      InSert(jov, picture, int16_t(xy.x), int16_t(xy.y), index, &bar);
    } catch (const EJovError& e) {
      added = false;
      error = e.Message();
    }
  } else {
    added = jov.AppendImage(picture, int16_t(xy.x), int16_t(xy.y), &error);
  }
  if (!added) throw Failure{QStringLiteral("加入图片失败！ ") + error};
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

int CmdDelete(const QStringList& raw) {
  return RunRange(raw, false);
}
int CmdClear(const QStringList& raw) {
  return RunRange(raw, true);
}
