// jovtool sheet and gif: a range of images as pictures to show people, a contact sheet
// (PNG) and an animation (GIF).

#include "cli/cmdshare.h"

#include "cli/cliutil.h"
#include "editing/requests.h"
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

// --from and --to into the request: by default the whole library (clamped as export
// clamps it).
void RangeOptions(const Args& args, TSharePictureRequest& request) {
  const int from = NumberOption(args, QStringLiteral("--from"), 0, INT32_MIN, INT32_MAX);
  const int to = NumberOption(args, QStringLiteral("--to"), INT32_MAX, INT32_MIN, INT32_MAX);
  request.beginText = QString::number(from);
  request.endText = QString::number(to);
}

}  // namespace

int CmdSheet(const QStringList& raw) {
  const Args args = SplitArgs(raw, {},
                              {QStringLiteral("--from"), QStringLiteral("--to"),
                               QStringLiteral("--columns"), QStringLiteral("--scale")});
  args.ExpectPositionals(2, QStringLiteral("sheet takes LIB OUT.png"));
  TSharePictureRequest request;
  request.kind = TSharePictureRequest::Kind::Sheet;
  request.path = args.positional[1];
  request.columns = NumberOption(args, QStringLiteral("--columns"), 8, 1, INT32_MAX);
  request.scale = NumberOption(args, QStringLiteral("--scale"), 1, 1, 16);
  RangeOptions(args, request);
  return RunRequest(args, request);
}

int CmdGif(const QStringList& raw) {
  const Args args = SplitArgs(raw, {QStringLiteral("--no-placement")},
                              {QStringLiteral("--from"), QStringLiteral("--to"),
                               QStringLiteral("--fps"), QStringLiteral("--loop")});
  args.ExpectPositionals(2, QStringLiteral("gif takes LIB OUT.gif"));
  TSharePictureRequest request;
  request.kind = TSharePictureRequest::Kind::Animation;
  request.path = args.positional[1];
  request.fps = NumberOption(args, QStringLiteral("--fps"), 10, 1, 100);
  request.plays = NumberOption(args, QStringLiteral("--loop"), 0, 0, 65536);
  request.placement = !args.Has(QStringLiteral("--no-placement"));
  RangeOptions(args, request);
  return RunRequest(args, request);
}
