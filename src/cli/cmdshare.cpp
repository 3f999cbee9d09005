// jovtool sheet and gif: a range of images as pictures to show people, a contact sheet
// (PNG) and an animation (GIF).

#include "cli/cmdshare.h"

#include "cli/cliutil.h"
#include "editing/gifexport.h"
#include "editing/sheet.h"
#include "library/myjov.h"

namespace {

// A number option, or fallback when it is not given; outside least..most it is a usage error.
int NumberOption(const Args& args, const QString& name, int fallback, int least, int most) {
  const auto option = args.options.find(name);
  if (option == args.options.end()) return fallback;
  const int n = ParseNumber(option->second, name);
  if (n < least || n > most)
    throw UsageError{
        QStringLiteral("%1 is %2 to %3, not %4").arg(name).arg(least).arg(most).arg(n)};
  return n;
}

// --from and --to, by default the whole library, clamped as export clamps them; a range
// with no image in it is refused.
TExportRange RangeOption(const Args& args, const TJOV& jov) {
  const int from = NumberOption(args, QStringLiteral("--from"), 0, INT32_MIN, INT32_MAX);
  const int to = NumberOption(args, QStringLiteral("--to"), INT32_MAX, INT32_MIN, INT32_MAX);
  const TExportRange range = ClampExportRange(from, to, jov.ImageCount);
  if (range.start > range.end)
    throw Failure{QStringLiteral("no image to show: the range %1..%2 is empty (the library has "
                                 "%3 images)")
                      .arg(range.start)
                      .arg(range.end)
                      .arg(jov.ImageCount)};
  return range;
}

}  // namespace

int CmdSheet(const QStringList& raw) {
  const Args args = SplitArgs(raw, {},
                              {QStringLiteral("--from"), QStringLiteral("--to"),
                               QStringLiteral("--columns"), QStringLiteral("--scale")});
  if (args.positional.size() != 2) throw UsageError{QStringLiteral("sheet takes LIB OUT.png")};
  TSheetOptions options;
  options.columns = NumberOption(args, QStringLiteral("--columns"), 8, 1, INT32_MAX);
  options.scale = NumberOption(args, QStringLiteral("--scale"), 1, 1, 16);
  TJOV jov;
  OpenLibrary(jov, args.positional[0]);
  options.range = RangeOption(args, jov);
  const int count = options.range.end - options.range.start + 1;
  TProgressBar bar(args.Quiet());
  const TSheetSize size = WriteSheet(jov, args.positional[1], options,
                                     [&bar](int done, int total) { bar.Update(done, total); });
  bar.Update(count, count);
  if (!args.Quiet())
    PrintOut(QStringLiteral("%1: images %2..%3, %4 x %5 pixels\n")
                 .arg(args.positional[1])
                 .arg(options.range.start)
                 .arg(options.range.end)
                 .arg(size.width)
                 .arg(size.height));
  return 0;
}

int CmdGif(const QStringList& raw) {
  const Args args = SplitArgs(raw, {QStringLiteral("--no-placement")},
                              {QStringLiteral("--from"), QStringLiteral("--to"),
                               QStringLiteral("--fps"), QStringLiteral("--loop")});
  if (args.positional.size() != 2) throw UsageError{QStringLiteral("gif takes LIB OUT.gif")};
  TAnimationOptions options;
  options.fps = NumberOption(args, QStringLiteral("--fps"), 10, 1, 100);
  options.plays = NumberOption(args, QStringLiteral("--loop"), 0, 0, 65536);
  options.placement = !args.Has(QStringLiteral("--no-placement"));
  TJOV jov;
  OpenLibrary(jov, args.positional[0]);
  options.range = RangeOption(args, jov);
  TProgressBar bar(args.Quiet());
  int steps = 0;
  WriteAnimation(jov, args.positional[1], options, [&](int done, int total) {
    bar.Update(done, total);
    steps = total;
  });
  bar.Update(steps, steps);
  if (!args.Quiet())
    PrintOut(QStringLiteral("%1: images %2..%3, %4 frames\n")
                 .arg(args.positional[1])
                 .arg(options.range.start)
                 .arg(options.range.end)
                 .arg(options.range.end - options.range.start + 1));
  return 0;
}
