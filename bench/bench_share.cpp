// The pictures made to share a range, each next to its floor measured in the same run:
// an animated GIF of 1,000 images of 64 x 64 next to exporting them as bitmaps, and a
// contact sheet of 10,000 of them next to the PNG encoding of the very same pixels alone.
// Each iteration runs the two one right after the other, in turns first; the reported time
// is the picture's, "floor_ms" the floor's and "ratio" picture / floor.  "peak_MiB" is the
// growth of the resident memory while the picture is written (for the sheet also
// "first_peak_MiB", of the first sheet the program writes).  The images are sprites (a
// shape of a few colours on transparent black) or noise (every pixel random), the worst
// case for either compressor.  JOV_BENCH_DIR picks the file system to write in.

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "editing/export.h"
#include "editing/gifexport.h"
#include "editing/pngstream.h"
#include "editing/sheet.h"
#include "library/myjov.h"
#include "support/biglibrary.h"
#include "support/libbuilder.h"

namespace {

using Clock = std::chrono::steady_clock;

QTemporaryDir& Dir() {
  return BenchFolder(QStringLiteral("jovshare"));
}

// count images of 64 x 64, placed around one anchor as a walking cycle is.
QString Library(int count, bool noise) {
  const QString name = QStringLiteral("lib%1%2").arg(count).arg(noise ? "n" : "s");
  const QString path = Dir().filePath(name + ".jov");
  if (QFile::exists(path)) return path;
  LibraryBuilder b(0);
  std::mt19937 rng(5);
  std::vector<uint8_t> pixels(64 * 64);
  for (int i = 0; i < count; ++i) {
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) {
        const int dx = x - 32, dy = y - 32 + i % 8;
        const bool inside = dx * dx + dy * dy < 26 * 26;
        pixels[size_t(y) * 64 + size_t(x)] = noise    ? uint8_t(rng())
                                             : inside ? uint8_t(16 + (x / 8 + y / 16 + i) % 6)
                                                      : 0;
      }
    b.Add8(64, 64, int16_t(-32 + i % 8), int16_t(-60 + i % 5), pixels);
  }
  return b.Write(Dir().path(), name);
}

double Seconds(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

int64_t StatusKiB(const char* key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + std::strlen(key));
  return 0;
}

// Runs picture and floor in turns, reporting as the file comment says.
template <class Picture, class Floor>
void Pair(benchmark::State& state, Picture&& picture, Floor&& floor) {
  double pictureSeconds = 0, floorSeconds = 0, peakKiB = 0;
  bool floorFirst = false;
  for (auto _ : state) {
    double p = 0;
    for (int pass = 0; pass < 2; ++pass) {
      if ((pass == 0) == floorFirst) {
        const auto t0 = Clock::now();
        floor();
        floorSeconds += Seconds(t0);
      } else {
        const int64_t before = StatusKiB("VmRSS:");
        std::ofstream("/proc/self/clear_refs") << "5";
        const auto t0 = Clock::now();
        picture();
        p = Seconds(t0);
        peakKiB = std::max(peakKiB, double(StatusKiB("VmHWM:") - before));
      }
    }
    floorFirst = !floorFirst;
    pictureSeconds += p;
    state.SetIterationTime(p);
  }
  state.counters["floor_ms"] = floorSeconds * 1000 / double(state.iterations());
  state.counters["ratio"] = floorSeconds > 0 ? pictureSeconds / floorSeconds : 0;
  state.counters["peak_MiB"] = peakKiB / 1024;
}

void Gif(benchmark::State& state, bool noise) {
  TJOV jov;
  jov.Open(Library(1000, noise));
  const QString folder = Dir().filePath("bmp");
  QDir().mkpath(folder);
  const QString gif = Dir().filePath("walk.gif");
  Pair(
      state,
      [&] {
        WriteAnimation(jov, gif, {{0, 999}, 10, 0, true});
      },
      [&] {
        ExportSequence(jov, folder, {0, 999});
      });
}

void Sheet(benchmark::State& state, bool noise) {
  TJOV jov;
  jov.Open(Library(10000, noise));
  const QString sheet = Dir().filePath("sheet.png"), plain = Dir().filePath("plain.png");
  // The first run, before anything else of the size of a sheet was allocated: memory the
  // allocator keeps from earlier runs cannot hide its growth.
  const int64_t before = StatusKiB("VmRSS:");
  std::ofstream("/proc/self/clear_refs") << "5";
  WriteSheet(jov, sheet, {{0, 9999}, 8, 1});
  const double firstPeakKiB = double(StatusKiB("VmHWM:") - before);
  // The same pixels and palette, in memory, for the encoder alone.
  QImageReader::setAllocationLimit(0);
  const QImage pixels(sheet);
  QList<QRgb> palette = pixels.colorTable();
  palette.resize(256);
  if (pixels.format() != QImage::Format_Indexed8) state.SkipWithError("not an indexed sheet");
  Pair(
      state,
      [&] {
        WriteSheet(jov, sheet, {{0, 9999}, 8, 1});
      },
      [&] {
        TPngStream png(plain, pixels.width(), pixels.height(), palette);
        for (int y = 0; y < pixels.height(); ++y) png.WriteRow(pixels.constScanLine(y));
        png.Finish();
      });
  state.counters["first_peak_MiB"] = firstPeakKiB / 1024;
  state.counters["sheet_MiB"] = double(pixels.sizeInBytes()) / (1 << 20);
}

void BM_Gif_1000_64x64_Sprites(benchmark::State& s) {
  Gif(s, false);
}
void BM_Gif_1000_64x64_Noise(benchmark::State& s) {
  Gif(s, true);
}
void BM_Sheet_10000_64x64_Sprites(benchmark::State& s) {
  Sheet(s, false);
}
void BM_Sheet_10000_64x64_Noise(benchmark::State& s) {
  Sheet(s, true);
}
BENCHMARK(BM_Gif_1000_64x64_Sprites)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_Gif_1000_64x64_Noise)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_Sheet_10000_64x64_Sprites)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);
BENCHMARK(BM_Sheet_10000_64x64_Noise)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

}  // namespace
