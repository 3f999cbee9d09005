// jovtool export-one and export: the viewer's "Export At" and sequence export.

#include "cli/cmdexport.h"

#include "cli/cliutil.h"
#include "editing/exchange.h"
#include "editing/export.h"
#include "library/myjov.h"

int CmdExportOne(const QStringList& raw) {
  const Args args = SplitArgs(raw, {}, {QStringLiteral("--format")});
  const TPictureFileFormat format = FormatOption(args);
  if (args.positional.size() != 3)
    throw UsageError{QStringLiteral("export-one takes LIB INDEX FILE")};
  const int index = ParseNumber(args.positional[1], QStringLiteral("INDEX"));
  TJOV jov;
  OpenLibrary(jov, args.positional[0]);
  if (index < 0 || index >= jov.ImageCount())
    throw Failure{QStringLiteral("image %1 is not in the library (it has %2 images)")
                      .arg(index)
                      .arg(jov.ImageCount())};
  ExportImage(jov, index, args.positional[2], format);
  if (!args.Quiet()) PrintOut(QStringLiteral("导出图片成功！\n"));
  return 0;
}

int CmdExport(const QStringList& raw) {
  const Args args = SplitArgs(
      raw, {}, {QStringLiteral("--from"), QStringLiteral("--to"), QStringLiteral("--format")});
  const TPictureFileFormat format = FormatOption(args);
  if (args.positional.size() != 2) throw UsageError{QStringLiteral("export takes LIB DIR")};
  const auto from = args.options.find(QStringLiteral("--from"));
  const auto to = args.options.find(QStringLiteral("--to"));
  const int start = from == args.options.end() ? 0 : ParseNumber(from->second, "--from");
  const int endGiven = to == args.options.end() ? INT32_MAX : ParseNumber(to->second, "--to");
  TJOV jov;
  OpenLibrary(jov, args.positional[0]);
  const TExportRange range = ClampExportRange(start, endGiven, jov.ImageCount());
  // A start more than one above the end is refused with the dialog's message for a bad
  // number, before anything is written.
  if (range.start > range.end + 1) throw Failure{QStringLiteral("请输入正确的编号")};
  TProgressBar bar(args.Quiet());
  ExportSequence(jov, args.positional[1], range, &bar, format);
  bar.Update(range.end - range.start + 1, range.end - range.start + 1);
  if (!args.Quiet()) PrintOut(QStringLiteral("批量导出图片成功！\n"));
  return 0;
}
