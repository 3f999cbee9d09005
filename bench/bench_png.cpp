// PNG files as exchange pictures against bitmaps, each pair measured in the same
// iteration: the reported time is the PNG run's, "bmp_ms" the bitmap run's and "ratio"
// PNG / bitmap over the same iterations.  JOV_BENCH_DIR picks the file system (e.g.
// /dev/shm); by default the system's temporary folder.
//
// - Export of 10,000 64 x 64 images as an exchange folder of PNG files, against the same
//   export as bitmaps.
// - Add of those 10,000 PNG files (placements from the folder), against the Add of the
//   10,000 bitmaps.
//
// The images look like sprites: a textured blob on black, so that the PNG files are
// compressed as real ones are.

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <random>

#include "editing/batchimport.h"
#include "editing/exchange.h"
#include "editing/export.h"
#include "library/myjov.h"
#include "support/biglibrary.h"
#include "support/libbuilder.h"

namespace {

using Clock = std::chrono::steady_clock;

QTemporaryDir& Dir() {
  return BenchFolder(QStringLiteral("jovpng"));
}

double Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

constexpr int kCount = 10000;
constexpr int kSide = 64;

// kCount sprites of kSide x kSide: black around an ellipse of a few colours with noise.
QString Sprites() {
  const QString path = Dir().filePath("sprites.jov");
  if (QFile::exists(path)) return path;
  LibraryBuilder b(0);
  std::mt19937 rng(3);
  std::vector<uint8_t> pixels(size_t(kSide) * kSide);
  for (int i = 0; i < kCount; ++i) {
    const int rx = 12 + i % 19, ry = 10 + i % 21, base = 16 + i % 200;
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x) {
        const int dx = x - kSide / 2, dy = y - kSide / 2;
        const bool inside = dx * dx * ry * ry + dy * dy * rx * rx <= rx * rx * ry * ry;
        pixels[size_t(y) * kSide + size_t(x)] = inside ? uint8_t(base + rng() % 8) : 0;
      }
    b.Add8(kSide, kSide, int16_t(-kSide / 2), int16_t(-kSide + i % 7), pixels);
  }
  return b.Write(Dir().path(), "sprites");
}

QString Folder(const QString& name) {
  const QString folder = Dir().filePath(name);
  QDir().mkpath(folder);
  return folder;
}

void BM_Export_10000_64x64_Png_Vs_Bmp(benchmark::State& state) {
  TJOV jov;
  jov.Open(Sprites());
  const QString bmp = Folder("bmp"), png = Folder("png");
  double pngSeconds = 0, bmpSeconds = 0;
  bool bmpFirst = false;
  for (auto _ : state) {
    // Alternating which goes first evens out the write-back of the other's files.
    double p = 0, b = 0;
    for (int pass = 0; pass < 2; ++pass) {
      const bool isBmp = (pass == 0) == bmpFirst;
      const auto t0 = Clock::now();
      ExportSequence(jov, isBmp ? bmp : png, {0, kCount - 1}, nullptr,
                     isBmp ? TPictureFileFormat::Bmp : TPictureFileFormat::Png);
      (isBmp ? b : p) = Since(t0);
    }
    bmpFirst = !bmpFirst;
    state.SetIterationTime(p);
    pngSeconds += p;
    bmpSeconds += b;
  }
  const double n = double(state.iterations());
  state.counters["bmp_ms"] = bmpSeconds * 1000 / n;
  state.counters["ratio"] = bmpSeconds > 0 ? pngSeconds / bmpSeconds : 0;
}

void BM_Add_10000_64x64_Png_Vs_Bmp(benchmark::State& state) {
  // The folders the export writes.
  const QString bmp = Folder("inbmp"), png = Folder("inpng");
  {
    TJOV jov;
    jov.Open(Sprites());
    if (QDir(bmp).entryList(QDir::Files).isEmpty()) {
      ExportSequence(jov, bmp, {0, kCount - 1}, nullptr, TPictureFileFormat::Bmp);
      ExportSequence(jov, png, {0, kCount - 1}, nullptr, TPictureFileFormat::Png);
    }
  }
  LibraryBuilder small(0);
  small.Add8(4, 1, 0, 0, {1, 2, 3, 4});
  const QByteArray data = small.Data(), index = small.Index();
  const QString lib = Dir().filePath("small.jov");
  double pngSeconds = 0, bmpSeconds = 0;
  bool bmpFirst = false;
  for (auto _ : state) {
    double p = 0, b = 0;
    for (int pass = 0; pass < 2; ++pass) {
      const bool isBmp = (pass == 0) == bmpFirst;
      const TPictureFileFormat format = isBmp ? TPictureFileFormat::Bmp : TPictureFileFormat::Png;
      const QString folder = isBmp ? bmp : png;
      WriteFileBytes(lib, data);
      WriteFileBytes(Dir().filePath("small.JOX"), index);
      TJOV jov;
      jov.Open(lib);
      const auto t0 = Clock::now();
      ImportAdd(jov, folder, ListBitmapFiles(folder, format), {});
      (isBmp ? b : p) = Since(t0);
      if (jov.ImageCount() != kCount + 1) state.SkipWithError("import");
    }
    bmpFirst = !bmpFirst;
    state.SetIterationTime(p);
    pngSeconds += p;
    bmpSeconds += b;
  }
  const double n = double(state.iterations());
  state.counters["bmp_ms"] = bmpSeconds * 1000 / n;
  state.counters["ratio"] = bmpSeconds > 0 ? pngSeconds / bmpSeconds : 0;
}

BENCHMARK(BM_Export_10000_64x64_Png_Vs_Bmp)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);
BENCHMARK(BM_Add_10000_64x64_Png_Vs_Bmp)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

}  // namespace
