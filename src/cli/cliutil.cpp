#include "cli/cliutil.h"

#include <unistd.h>

#include <cstdio>
#include <limits>

#include "common/parseinteger.h"
#include "editing/exchange.h"
#include "editing/messages.h"
#include "editing/requests.h"
#include "library/myjov.h"

void PrintOut(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void PrintErr(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

Args SplitArgs(const QStringList& raw, const QStringList& flags, const QStringList& options) {
  Args args;
  for (qsizetype i = 0; i < raw.size(); ++i) {
    const QString& a = raw[i];
    if (!a.startsWith(QLatin1String("--"))) {
      args.positional << a;
    } else if (flags.contains(a) || a == QLatin1String("--quiet")) {
      args.flags << a;
    } else if (options.contains(a)) {
      if (i + 1 >= raw.size()) throw UsageError{a + QStringLiteral(" needs a value")};
      args.options[a] = raw[++i];
    } else {
      throw UsageError{QStringLiteral("unknown option ") + a};
    }
  }
  return args;
}

int ParseNumber(const QString& text, const QString& what) {
  const TParsedInteger n = ParseInteger(text);
  if (!n.ok()) throw UsageError{QStringLiteral("%1 is not a number: %2").arg(what, text)};
  return n.value;
}

TPictureFileFormat FormatOption(const Args& args) {
  const auto option = args.options.find(QStringLiteral("--format"));
  if (option == args.options.end()) return TPictureFileFormat::Bmp;
  if (const auto format = PictureFileFormatNamed(option->second)) return *format;
  throw UsageError{QStringLiteral("--format is bmp or png, not %1").arg(option->second)};
}

TPlacement ParsePlacementOption(const QString& text) {
  const qsizetype comma = text.indexOf(QLatin1Char(','));
  const QString what = QStringLiteral("--placement");
  if (comma < 0) return {0, ParseNumber(text, what)};
  return {ParseNumber(text.left(comma), what), ParseNumber(text.mid(comma + 1), what)};
}

void Refuse(const TRefusal& refusal) {
  throw Failure{refusal.Line()};
}

int Finish(const TOutcome& outcome, const Args& args) {
  switch (outcome.kind) {
    case TOutcome::Kind::Done:
      if (!args.Quiet() && !outcome.message.isEmpty())
        PrintOut(outcome.message + QLatin1Char('\n'));
      return 0;
    case TOutcome::Kind::Refused:
      Refuse(TRefusal{outcome.message, outcome.field, outcome.reason});
    default:
      throw Failure{outcome.Text().replace(QLatin1Char('\n'), QLatin1Char(' '))};
  }
}

void OpenLibrary(TJOV& jov, const QString& path) {
  switch (jov.Open(path)) {
    case TOpenResult::Opened:
      return;
    case TOpenResult::Missing:
      throw Failure{TJOV::MissingFileMessage(path)};
    case TOpenResult::NotLibrary:
      throw Failure{msg::kNotALibrary};
  }
}

TProgressBar::TProgressBar(bool quiet) : active_(!quiet && ::isatty(STDERR_FILENO)) {}

TProgressBar::~TProgressBar() {
  if (active_ && lastWidth_ >= 0) std::fputs("\n", stderr);
}

void TProgressBar::Update(int done, int total) {
  if (!active_ || total <= 0) return;
  constexpr int kWidth = 40;
  const int filled = int(int64_t(done) * kWidth / total);
  if (filled == lastWidth_ && done != total) return;
  lastWidth_ = filled;
  std::fprintf(stderr, "\r[%s%s] %d/%d", std::string(size_t(filled), '#').c_str(),
               std::string(size_t(kWidth - filled), ' ').c_str(), done, total);
  std::fflush(stderr);
}

void TProgressBar::Update(int64_t done, int64_t total) {
  if (total > std::numeric_limits<int>::max() / 2) {
    done /= 1024;
    total /= 1024;
  }
  Update(int(done), int(total));
}
