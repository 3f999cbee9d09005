#include "cli/cliutil.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <limits>
#include <optional>

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
    case TOutcome::Kind::Cancelled:
      PrintErr(QStringLiteral("jovtool: %1\n")
                   .arg(outcome.Text().replace(QLatin1Char('\n'), QLatin1Char(' '))));
      return TCancelSignals::Received() != 0 ? 128 + TCancelSignals::Received() : 1;
    default:
      throw Failure{outcome.Text().replace(QLatin1Char('\n'), QLatin1Char(' '))};
  }
}

namespace {
std::optional<int64_t> historyLimitOption;
}

void TakeHistoryLimit(QStringList& raw) {
  const qsizetype at = raw.indexOf(QStringLiteral("--history-limit"));
  if (at < 0) return;
  if (at + 1 >= raw.size()) throw UsageError{QStringLiteral("--history-limit needs a value")};
  const QString given = raw[at + 1];
  QString text = given.trimmed().toUpper();
  raw.remove(at, 2);
  int shift = 0;
  if (text.endsWith(QLatin1Char('B'))) text.chop(1);
  if (text.endsWith(QLatin1Char('I'))) text.chop(1);  // KiB, MiB, GiB
  const QString units = QStringLiteral("KMG");
  if (!text.isEmpty() && units.contains(text.back())) {
    shift = 10 * int(units.indexOf(text.back()) + 1);
    text.chop(1);
  }
  bool ok = false;
  const qlonglong n = text.toLongLong(&ok);
  if (!ok || n < 0 || n > (int64_t(1) << (62 - shift)))
    throw UsageError{QStringLiteral("--history-limit is a size such as 64M, not %1").arg(given)};
  historyLimitOption = int64_t(n) << shift;
}

void OpenLibrary(TJOV& jov, const QString& path) {
  if (historyLimitOption) jov.SetHistoryLimit(*historyLimitOption);
  switch (jov.Open(path)) {
    case TOpenResult::Opened:
      return;
    case TOpenResult::Missing:
      throw Failure{TJOV::MissingFileMessage(path)};
    case TOpenResult::NotLibrary:
      throw Failure{msg::kNotALibrary};
  }
}

namespace {

volatile sig_atomic_t receivedSignal = 0;

void OnCancelSignal(int signal) {
  if (receivedSignal != 0) {
    static const char kIgnored[] =
        "\njovtool: still undoing the change; the signal is ignored until it is done\n";
    (void)!::write(STDERR_FILENO, kIgnored, sizeof kIgnored - 1);
    return;
  }
  receivedSignal = signal;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A count of bytes in KiB or MiB, or a count of images, as the bar shows it.
QString Amount(double n, bool bytes) {
  if (!bytes) return QString::number(int64_t(n));
  if (n >= 10 << 20) return QStringLiteral("%1 MiB").arg(n / (1 << 20), 0, 'f', 1);
  return QStringLiteral("%1 KiB").arg(n / 1024, 0, 'f', 0);
}

}  // namespace

TCancelSignals::TCancelSignals() {
  struct sigaction on = {};
  on.sa_handler = OnCancelSignal;
  sigemptyset(&on.sa_mask);
  on.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &on, nullptr);
  ::sigaction(SIGTERM, &on, nullptr);
}

TCancelSignals::~TCancelSignals() = default;

int TCancelSignals::Received() {
  return receivedSignal;
}

TProgressBar::TProgressBar(bool quiet, bool drawBar)
    : quiet_(quiet), active_(!quiet && drawBar && ::isatty(STDERR_FILENO)) {}

void TProgressBar::Note(const QString& text) {
  if (quiet_) return;
  if (active_ && lastWidth_ >= 0) std::fputs("\n", stderr);
  lastWidth_ = -1;
  PrintErr(QStringLiteral("jovtool: note: %1\n").arg(text));
}

TProgressBar::~TProgressBar() {
  if (active_ && lastWidth_ >= 0) std::fputs("\n", stderr);
}

void TProgressBar::Draw(int64_t done, int64_t total, bool bytes) {
  if (!active_ || total <= 0) return;
  const int64_t now = NowMs();
  if (total != total_) {
    total_ = total;
    startedMs_ = now;
  }
  constexpr int kWidth = 40;
  const int filled = int(done * kWidth / total);
  if (filled == lastWidth_ && done != total && now - drawnMs_ < 250) return;
  lastWidth_ = filled;
  drawnMs_ = now;
  QString line =
      QStringLiteral("\r[%1%2] %3/%4")
          .arg(QString(filled, QLatin1Char('#')), QString(kWidth - filled, QLatin1Char(' ')),
               Amount(double(done), bytes), Amount(double(total), bytes));
  const double seconds = (now - startedMs_) / 1000.0;
  if (seconds >= 1 && done > 0) {
    const double rate = done / seconds;
    const int64_t left = int64_t((total - done) / rate + 0.5);
    line += QStringLiteral("  %1/s, %2:%3 left")
                .arg(Amount(rate, bytes))
                .arg(left / 60)
                .arg(left % 60, 2, 10, QLatin1Char('0'));
  }
  const QByteArray text = (line + QStringLiteral("   ")).toUtf8();
  std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
  std::fflush(stderr);
}
