// Exporting ranges of images as an exchange folder, next to writing the same bytes into
// the same number of files with plain writes.  JOV_BENCH_DIR picks the file system
// (e.g. /dev/shm); by default the system's temporary folder.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <random>

#include "editing/exchange.h"
#include "editing/export.h"
#include "library/myjov.h"
#include "support/libbuilder.h"

namespace {

QTemporaryDir& Dir() {
  const QString root = qEnvironmentVariable("JOV_BENCH_DIR");
  static QTemporaryDir dir((root.isEmpty() ? QDir::tempPath() : root) + "/jovexport-XXXXXX");
  return dir;
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

void Export(benchmark::State& state, int count, int w, int h) {
  TJOV jov;
  jov.FileName = Library(count, w, h);
  jov.Open();
  const QString out = Dir().filePath(QStringLiteral("out%1").arg(w));
  QDir().mkpath(out);
  for (auto _ : state) ExportSequence(jov, out, {0, count - 1});
  state.counters["images/s"] = benchmark::Counter(double(count), benchmark::Counter::kIsIterationInvariantRate);
}

// The same bytes (a bitmap and a placement file per image) written with plain calls.
void Raw(benchmark::State& state, int count, int w, int h) {
  const QByteArray bitmap(14 + 40 + 1024 + w * h, 'b');
  const QByteArray text("-99\r\n-7\r\n");
  const QString out = Dir().filePath(QStringLiteral("raw%1").arg(w));
  QDir().mkpath(out + "/Placements");
  std::vector<QByteArray> names, texts;
  for (int i = 0; i < count; ++i) {
    names.push_back(QFile::encodeName(out + "/" + ExchangeBitmapName(i)));
    texts.push_back(QFile::encodeName(out + "/Placements/" + PlacementFileName(i)));
  }
  auto put = [&state](const QByteArray& path, const QByteArray& bytes) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
      state.SkipWithError("write");
    ::close(fd);
  };
  for (auto _ : state)
    for (int i = 0; i < count; ++i) {
      put(names[size_t(i)], bitmap);
      put(texts[size_t(i)], text);
    }
  state.counters["images/s"] = benchmark::Counter(double(count), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Export_10000_64x64(benchmark::State& s) { Export(s, 10000, 64, 64); }
void BM_Export_10000_64x64_Raw(benchmark::State& s) { Raw(s, 10000, 64, 64); }
void BM_Export_1000_640x480(benchmark::State& s) { Export(s, 1000, 640, 480); }
void BM_Export_1000_640x480_Raw(benchmark::State& s) { Raw(s, 1000, 640, 480); }
BENCHMARK(BM_Export_10000_64x64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Export_10000_64x64_Raw)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Export_1000_640x480)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Export_1000_640x480_Raw)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
