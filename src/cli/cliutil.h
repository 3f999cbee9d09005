#pragma once

// What every jovtool command shares: argument splitting, numbers read as the viewer
// reads them, opening a library, messages and the progress bar.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>

#include "common/operation.h"
#include "editing/requests.h"
#include "library/myjov.h"

// A command line that does not fit its command: exit status 2 with the usage text.
struct UsageError {
  QString message;
};
// An operation that failed or was refused: exit status 1.
struct Failure {
  QString message;
};

void PrintOut(const QString& text);
void PrintErr(const QString& text);

// Arguments of one command: positionals, flags and options with a value, in any order.
struct Args {
  QStringList positional;
  QStringList flags;
  std::map<QString, QString> options;

  bool Has(const QString& flag) const { return flags.contains(flag); }
  bool Quiet() const { return Has(QStringLiteral("--quiet")); }
  // A usage error saying what the command takes unless it was given count positionals.
  void ExpectPositionals(qsizetype count, const QString& takes) const {
    if (positional.size() != count) throw UsageError{takes};
  }
};

// Splits raw into positionals, the known flags and the known options (each followed by
// its value).  "--quiet" is always known.  Anything else starting with "--" is a usage
// error.
Args SplitArgs(const QStringList& raw, const QStringList& flags, const QStringList& options = {});

// A number read with ParseInteger; a text that does not read whole is a usage error.
int ParseNumber(const QString& text, const QString& what);

// The value of --format, "bmp" (also when it is not given) or "png"; anything else is a
// usage error.
TPictureFileFormat FormatOption(const Args& args);

// The placement pair "X,Y" of --placement, by the rule of the dialogs' "New Like:" field
// (text before the first comma gives x, after it y; without a comma x is 0), except
// that each number must read whole.
TPlacement ParsePlacementOption(const QString& text);

// Opens LIB as the viewer opens it; a failure carries the viewer's message.  The
// library keeps the history limit given on the command line, if any.
void OpenLibrary(TJOV& jov, const QString& path);

// Takes "--history-limit SIZE" out of raw (SIZE in bytes, or with K, M or G; 0 keeps no
// history) for the libraries OpenLibrary opens; a size that does not read is a usage
// error.
void TakeHistoryLimit(QStringList& raw);

// A request's refusal as a failure of the command.
[[noreturn]] void Refuse(const TRefusal& refusal);
// The exit status of a run: 0 when done (its text printed unless quiet), else a failure
// with the text and the reason on the jovtool: line.
int Finish(const TOutcome& outcome, const Args& args);

// Opens LIB (the first positional), checks the request and runs it with the progress bar:
// the command's exit status.
template <class Request>
int RunRequest(const Args& args, Request& request);

// From the making of one of these until the command ends, Ctrl+C (SIGINT) and SIGTERM
// cancel the change under way: the change rolls back and the command exits 128 + the
// signal.  A signal after a change's commit point lets it finish, and the command exits
// 0.  A second one while rolling back is ignored with a line saying so.
class TCancelSignals {
 public:
  TCancelSignals();
  ~TCancelSignals();
  TCancelSignals(const TCancelSignals&) = delete;
  TCancelSignals& operator=(const TCancelSignals&) = delete;
  // The signal received, or 0.
  static int Received();
};

// A progress bar on stderr, drawn only when stderr is a terminal and not quiet; a run that
// takes longer than a second shows its rate and the time left.  It asks for a cancel when
// a signal came.
class TProgressBar : public TOperationDelegate {
 public:
  // drawBar false: only the notes.
  explicit TProgressBar(bool quiet, bool drawBar = true);
  ~TProgressBar() override;
  void Progress(int64_t done, int64_t total) override { Draw(done, total, false); }
  void ProgressInBytes(int64_t done, int64_t total) override { Draw(done, total, true); }
  bool CancelRequested() override { return TCancelSignals::Received() != 0; }
  // A note (e.g. that a change cannot be undone) goes on stderr unless quiet.
  void Note(const QString& text) override;

 private:
  void Draw(int64_t done, int64_t total, bool bytes);
  bool quiet_;
  bool active_;
  int lastWidth_ = -1;
  int64_t total_ = -1;  // the total the run's clock started for
  int64_t startedMs_ = 0;
  int64_t drawnMs_ = 0;
};

template <class Request>
int RunRequest(const Args& args, Request& request) {
  TJOV jov;
  OpenLibrary(jov, args.positional[0]);
  if (const TValidation refusal = request.Validate(jov)) Refuse(*refusal);
  TCancelSignals cancelOnSignal;
  TProgressBar bar(args.Quiet());
  if constexpr (requires { request.Run(jov, &bar); })
    return Finish(request.Run(jov, &bar), args);
  else
    return Finish(request.Run(jov), args);
}
