// Loading a 1024 x 1024 photo (JPEG and PNG) and converting it into the library palette,
// next to Qt reading the same file alone.  Each iteration runs both, in turns first; the
// reported time is load + convert, "convert_ms" the part of it ToLibraryBitmap takes,
// "qt_ms" Qt's read alone and "ratio" load + convert over Qt's read across the same
// iterations.  JOV_BENCH_DIR picks the folder of the files.

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "editing/pictureloader.h"
#include "library/tolibrary.h"
#include "support/biglibrary.h"

// Resources of a static library are registered by hand (outside any namespace).
static void InitTemplates() {
  Q_INIT_RESOURCE(templates);
}

namespace {

QTemporaryDir& Dir() {
  return BenchFolder(QStringLiteral("jovpicture"));
}

// Smooth gradients and soft blobs with noise on top, as a photo has: nearly every pixel
// a colour of its own.
QImage Photo() {
  QImage image(1024, 1024, QImage::Format_RGB32);
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(0, 6);
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const double u = x / 1024.0, v = y / 1024.0;
      const double blob = std::exp(-((u - 0.6) * (u - 0.6) + (v - 0.4) * (v - 0.4)) * 12);
      const double r = 60 + 150 * u + 40 * blob + 20 * std::sin(9 * v);
      const double g = 90 + 100 * v * (1 - u) + 60 * blob;
      const double b = 180 - 120 * v + 30 * std::cos(7 * u + 3 * v);
      auto channel = [&](double c) { return std::clamp(int(c + noise(rng)), 0, 255); };
      row[x] = qRgb(channel(r), channel(g), channel(b));
    }
  }
  return image;
}

QString PhotoFile(const char* format) {
  const QString path = Dir().filePath(QStringLiteral("photo.%1").arg(format));
  if (!QFile::exists(path)) {
    static const QImage photo = Photo();
    photo.save(path, format, 90);
  }
  return path;
}

// The palette of a new library (the embedded template).
TColorTable LibraryPalette() {
  InitTemplates();
  QFile f(QStringLiteral(":/EXEFILE/JOV"));
  TColorTable palette{};
  if (!f.open(QIODevice::ReadOnly) || f.size() < 56 + 1024) {
    std::fprintf(stderr, "no library template\n");
    std::exit(1);
  }
  std::memcpy(palette.data(), f.readAll().constData() + 56, 1024);
  return palette;
}

// fresh: a palette the drawing surface has not seen before at every iteration, so that
// the cost of its first picture shows (the surface keeps what it looked up per palette).
void LoadAndConvert(benchmark::State& state, const char* format, bool fresh = false) {
  const QString path = PhotoFile(format);
  TColorTable palette = LibraryPalette();
  TPictureLoader loader;
  TDIB work;
  QImage plain;
  using Clock = std::chrono::steady_clock;
  double ours = 0, qt = 0, convert = 0;
  bool qtFirst = false;
  for (auto _ : state) {
    double o = 0, q = 0;
    for (int pass = 0; pass < 2; ++pass) {
      const bool isQt = (pass == 0) == qtFirst;
      const auto t0 = Clock::now();
      if (isQt) {
        QImageReader reader(path);
        if (!reader.read(&plain)) state.SkipWithError("Qt read");
        q = std::chrono::duration<double>(Clock::now() - t0).count();
      } else {
        if (fresh) ++palette[1020];  // the last entry, white, changes a little
        const TPicture& picture = loader.Load(path);
        const auto t1 = Clock::now();
        ToLibraryBitmap(work, palette, picture);
        const auto t2 = Clock::now();
        o = std::chrono::duration<double>(t2 - t0).count();
        convert += std::chrono::duration<double>(t2 - t1).count();
      }
    }
    qtFirst = !qtFirst;
    state.SetIterationTime(o);
    ours += o;
    qt += q;
  }
  benchmark::DoNotOptimize(work.PixelData());
  const double n = double(state.iterations());
  state.counters["qt_ms"] = qt * 1000 / n;
  state.counters["convert_ms"] = convert * 1000 / n;
  state.counters["ratio"] = qt > 0 ? ours / qt : 0;
}

void BM_Picture_Jpeg_1024(benchmark::State& s) {
  LoadAndConvert(s, "jpg");
}
void BM_Picture_Png_1024(benchmark::State& s) {
  LoadAndConvert(s, "png");
}
void BM_Picture_Jpeg_1024_NewPalette(benchmark::State& s) {
  LoadAndConvert(s, "jpg", true);
}
BENCHMARK(BM_Picture_Jpeg_1024)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_Picture_Png_1024)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_Picture_Jpeg_1024_NewPalette)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
