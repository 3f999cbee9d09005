// Exporting ranges of images as an exchange folder, next to writing the same bytes into
// the same number of files with plain writes.  JOV_BENCH_DIR picks the file system
// (e.g. /dev/shm); by default the system's temporary folder.
//
// File creation time drifts a lot on shared machines, so every iteration runs the export
// and the plain writes one right after the other, in turns first: the reported time is the
// export's, "raw_ms" the plain writes' and "ratio" export / raw over the same iterations.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <random>

#include "editing/exchange.h"
#include "editing/export.h"
#include "library/myjov.h"
#include "support/biglibrary.h"
#include "support/libbuilder.h"

namespace {

QTemporaryDir& Dir() {
  return BenchFolder(QStringLiteral("jovexport"));
}

QString Library(int count, int w, int h) {
  const QString name = QStringLiteral("lib%1x%2").arg(w).arg(h);
  const QString path = Dir().filePath(name + ".jov");
  if (QFile::exists(path)) return path;
  LibraryBuilder b(0);
  std::vector<uint8_t> pixels(size_t(w) * size_t(h));
  std::mt19937 rng(9);
  for (auto& p : pixels) p = uint8_t(rng());
  for (int i = 0; i < count; ++i) b.Add8(int16_t(w), int16_t(h), int16_t(i % 100), -7, pixels);
  return b.Write(Dir().path(), name);
}

// The same bytes as an export (a bitmap and a placement file per image), written with
// plain calls.
class RawWriter {
 public:
  RawWriter(int count, int w, int h) : bitmap_(14 + 40 + 1024 + w * h, 'b') {
    const QString out = Dir().filePath(QStringLiteral("raw%1").arg(w));
    QDir().mkpath(out + "/Placements");
    for (int i = 0; i < count; ++i) {
      names_.push_back(QFile::encodeName(out + "/" + ExchangeBitmapName(i)));
      texts_.push_back(QFile::encodeName(out + "/Placements/" + PlacementFileName(i)));
    }
  }
  bool Run() const {
    for (size_t i = 0; i < names_.size(); ++i)
      if (!Put(names_[i], bitmap_) || !Put(texts_[i], text_)) return false;
    return true;
  }

 private:
  static bool Put(const QByteArray& path, const QByteArray& bytes) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    const bool ok = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    if (fd >= 0) ::close(fd);
    return ok;
  }
  QByteArray bitmap_;
  const QByteArray text_{"-99\r\n-7\r\n"};
  std::vector<QByteArray> names_, texts_;
};

void Export(benchmark::State& state, int count, int w, int h) {
  TJOV jov;
  jov.Open(Library(count, w, h));
  const QString out = Dir().filePath(QStringLiteral("out%1").arg(w));
  QDir().mkpath(out);
  const RawWriter raw(count, w, h);
  using Clock = std::chrono::steady_clock;
  double exportSeconds = 0, rawSeconds = 0;
  bool rawFirst = false;
  for (auto _ : state) {
    // Alternating which goes first evens out the write-back of the other's files.
    double e = 0, r = 0;
    for (int pass = 0; pass < 2; ++pass) {
      const auto t0 = Clock::now();
      const bool isRaw = (pass == 0) == rawFirst;
      if (isRaw) {
        if (!raw.Run()) state.SkipWithError("write");
      } else {
        ExportSequence(jov, out, {0, count - 1});
      }
      (isRaw ? r : e) = std::chrono::duration<double>(Clock::now() - t0).count();
    }
    rawFirst = !rawFirst;
    state.SetIterationTime(e);
    exportSeconds += e;
    rawSeconds += r;
  }
  const double n = double(state.iterations());
  state.counters["raw_ms"] = rawSeconds * 1000 / n;
  state.counters["ratio"] = rawSeconds > 0 ? exportSeconds / rawSeconds : 0;
  state.counters["images/s"] =
      benchmark::Counter(double(count), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Export_10000_64x64(benchmark::State& s) {
  Export(s, 10000, 64, 64);
}
void BM_Export_1000_640x480(benchmark::State& s) {
  Export(s, 1000, 640, 480);
}
BENCHMARK(BM_Export_10000_64x64)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_Export_1000_640x480)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
