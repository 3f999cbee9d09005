// jovtool replace, add, set-placement, delete and clear: "Import At", the add-one dialog,
// the X and Y buttons and the delete dialog.  Each change is one transaction: all or
// nothing, whatever stops the command.

#include "cli/cmdedit.h"

#include "cli/cliutil.h"
#include "editing/pictureloader.h"
#include "editing/requests.h"
#include "library/myjov.h"

namespace {

// jovtool delete / clear LIB S E: checked as the delete dialog checks its fields.
int RunRange(const QStringList& raw, bool clear) {
  const Args args = SplitArgs(raw, {});
  const QString name = clear ? QStringLiteral("clear") : QStringLiteral("delete");
  args.ExpectPositionals(3, name + QStringLiteral(" takes LIB S E"));
  TDeleteRequest request;
  request.clear = clear;
  request.beginText = args.positional[1];
  request.endText = args.positional[2];
  ParseNumber(request.beginText, QStringLiteral("S"));
  ParseNumber(request.endText, QStringLiteral("E"));
  return RunRequest(args, request);
}

// Opens the library, checks the request, reads its picture and runs it; drawBar: with a
// progress bar (notes are written either way).
template <class Request>
int RunWithPicture(const Args& args, const Request& request, bool drawBar) {
  TJOV jov;
  OpenLibrary(jov, args.positional[0]);
  if (const TValidation refusal = request.Validate(jov)) Refuse(*refusal);
  TPictureLoader loader;
  const TPicture& picture = loader.Load(request.picturePath);
  TCancelSignals cancelOnSignal;
  TProgressBar bar(args.Quiet(), drawBar);
  return Finish(request.Run(jov, picture, &bar), args);
}

}  // namespace

int CmdReplace(const QStringList& raw) {
  const Args args = SplitArgs(raw, {});
  args.ExpectPositionals(3, QStringLiteral("replace takes LIB INDEX PICTURE"));
  TImportAtRequest request;
  request.index = ParseNumber(args.positional[1], QStringLiteral("INDEX"));
  request.picturePath = args.positional[2];
  return RunWithPicture(args, request, true);
}

int CmdAdd(const QStringList& raw) {
  const Args args =
      SplitArgs(raw, {}, {QStringLiteral("--placement"), QStringLiteral("--insert-at")});
  args.ExpectPositionals(2, QStringLiteral("add takes LIB PICTURE"));
  TAddRequest request;
  request.picturePath = args.positional[1];
  if (const auto placement = args.options.find(QStringLiteral("--placement"));
      placement != args.options.end()) {
    // Placements are stored in 16 bits: only the low 16 bits are kept.
    const TPlacement xy = ParsePlacementOption(placement->second);
    request.x = int16_t(xy.x);
    request.y = int16_t(xy.y);
  }
  if (const auto insertAt = args.options.find(QStringLiteral("--insert-at"));
      insertAt != args.options.end()) {
    request.insert = true;
    request.index = ParseNumber(insertAt->second, QStringLiteral("--insert-at"));
  }
  return RunWithPicture(args, request, request.insert);  // an append is quick
}

int CmdSetPlacement(const QStringList& raw) {
  const Args args = SplitArgs(raw, {});
  args.ExpectPositionals(4, QStringLiteral("set-placement takes LIB INDEX X Y"));
  TPlacementRequest request;
  request.index = ParseNumber(args.positional[1], QStringLiteral("INDEX"));
  ParseNumber(args.positional[2], QStringLiteral("X"));
  ParseNumber(args.positional[3], QStringLiteral("Y"));
  request.xText = args.positional[2];
  request.yText = args.positional[3];
  return RunRequest(args, request);
}

int CmdDelete(const QStringList& raw) {
  return RunRange(raw, false);
}
int CmdClear(const QStringList& raw) {
  return RunRange(raw, true);
}
