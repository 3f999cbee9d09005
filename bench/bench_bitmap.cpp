// Bitmap files and nearest-colour drawing, each next to its peer or floor.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <cstring>
#include <random>

#include "bitmap/dib.h"
#include "support/bmpbuilder.h"

namespace {

constexpr int kFiles = 1000;

// A folder of 1,000 8-bit 256 x 256 bitmap files.  JOV_BENCH_DIR picks the file system
// (e.g. /dev/shm); by default the system's temporary folder.
QString BenchRoot() {
  const QString root = qEnvironmentVariable("JOV_BENCH_DIR");
  return root.isEmpty() ? QDir::tempPath() : root;
}

QTemporaryDir& Dir() {
  static QTemporaryDir dir(BenchRoot() + "/jovbmp-XXXXXX");
  return dir;
}

const QStringList& BitmapFiles() {
  static const QStringList files = [] {
    QStringList out;
    BmpSpec spec;
    spec.width = 256;
    spec.height = 256;
    spec.depth = 8;
    spec.colours = RandomBmpColours(256, 7);
    for (int i = 0; i < kFiles; ++i) {
      spec.pixels = PackBmpRows(8, 256, RandomBmpPixels(256, 256, 8, uint32_t(i)));
      const QString path = Dir().filePath(QStringLiteral("%1.bmp").arg(i, 6, 10, QLatin1Char('0')));
      WriteBytesToFile(path, BuildBmp(spec));
      out << path;
    }
    return out;
  }();
  return files;
}

void BM_ReadBitmapFile_1000(benchmark::State& state) {
  const QStringList& files = BitmapFiles();
  TDIB dib;
  for (auto _ : state)
    for (const QString& f : files) {
      dib.ReadBitmapFile(f);
      benchmark::DoNotOptimize(dib.ConstPixelData());
    }
}
BENCHMARK(BM_ReadBitmapFile_1000)->Unit(benchmark::kMillisecond);

// Peer: Qt's own reader on the same files.
void BM_ReadBitmapFile_1000_QImage(benchmark::State& state) {
  const QStringList& files = BitmapFiles();
  for (auto _ : state)
    for (const QString& f : files) {
      QImage image(f);
      benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_ReadBitmapFile_1000_QImage)->Unit(benchmark::kMillisecond);

QStringList OutputNames() {
  QStringList out;
  for (int i = 0; i < kFiles; ++i)
    out << Dir().filePath(QStringLiteral("out%1.bmp").arg(i, 6, 10, QLatin1Char('0')));
  return out;
}

void BM_WriteBitmapFile_1000(benchmark::State& state) {
  TDIB dib;
  dib.ReadBitmapFile(BitmapFiles()[0]);
  dib.PixelData();  // a private, writable store, as after an edit
  const QStringList names = OutputNames();
  for (auto _ : state)
    for (const QString& f : names) dib.WriteBitmapFile(f);
}
BENCHMARK(BM_WriteBitmapFile_1000)->Unit(benchmark::kMillisecond);

// Floor: the same bytes written raw into the same number of files.
void BM_WriteBitmapFile_1000_Raw(benchmark::State& state) {
  QFile in(BitmapFiles()[0]);
  in.open(QIODevice::ReadOnly);
  const QByteArray bytes = in.readAll();
  std::vector<QByteArray> names;
  for (const QString& f : OutputNames()) names.push_back(QFile::encodeName(f));
  for (auto _ : state)
    for (const QByteArray& f : names) {
      const int fd = ::open(f.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
        state.SkipWithError("write");
      ::close(fd);
    }
}
BENCHMARK(BM_WriteBitmapFile_1000_Raw)->Unit(benchmark::kMillisecond);

void BM_WriteBitmapFile_1000_QImage(benchmark::State& state) {
  const QImage image(BitmapFiles()[0]);
  const QStringList names = OutputNames();
  for (auto _ : state)
    for (const QString& f : names) image.save(f, "BMP");
}
BENCHMARK(BM_WriteBitmapFile_1000_QImage)->Unit(benchmark::kMillisecond);

// Nearest-colour drawing of a 24-bit 1024 x 1024 picture into an 8-bit picture -------

TColorTable BenchPalette() {
  TColorTable t{};
  std::mt19937 rng(11);
  for (int i = 0; i < 256; ++i) {
    t[i * 4] = uint8_t(rng());
    t[i * 4 + 1] = uint8_t(rng());
    t[i * 4 + 2] = uint8_t(rng());
  }
  return t;
}

// A sprite: every colour is one of the palette's.
const QImage& Sprite() {
  static const QImage image = [] {
    const TColorTable t = BenchPalette();
    QImage img(1024, 1024, QImage::Format_RGB888);
    std::mt19937 rng(3);
    for (int y = 0; y < 1024; ++y) {
      uchar* row = img.scanLine(y);
      int i = int(rng() % 256);
      for (int x = 0; x < 1024; ++x) {
        if (rng() % 16 == 0) i = int(rng() % 256);
        row[x * 3] = t[i * 4 + 2];
        row[x * 3 + 1] = t[i * 4 + 1];
        row[x * 3 + 2] = t[i * 4];
      }
    }
    return img;
  }();
  return image;
}

// A photo: smooth gradients with noise, hundreds of thousands of colours.
const QImage& Photo() {
  static const QImage image = [] {
    QImage img(1024, 1024, QImage::Format_RGB888);
    std::mt19937 rng(5);
    for (int y = 0; y < 1024; ++y) {
      uchar* row = img.scanLine(y);
      for (int x = 0; x < 1024; ++x) {
        row[x * 3] = uint8_t((x / 4 + rng() % 8) & 255);
        row[x * 3 + 1] = uint8_t((y / 4 + rng() % 8) & 255);
        row[x * 3 + 2] = uint8_t(((x + y) / 8 + rng() % 8) & 255);
      }
    }
    return img;
  }();
  return image;
}

// cold: a different colour table each time, so nothing learnt from the previous
// drawing helps.
void DrawNearest(benchmark::State& state, const QImage& picture, bool cold) {
  TDIB dib;
  dib.ChangeBitDepth(8);
  dib.ChangeWidth(1024);
  dib.ChangeHeight(1024);
  dib.ColorEntries = BenchPalette();
  dib.CommitColors();
  uint8_t salt = 0;
  for (auto _ : state) {
    if (cold) {
      dib.ColorEntries[255 * 4 + 3] = 0;
      dib.ColorEntries[255 * 4] = ++salt;
      dib.CommitColors();
    }
    dib.Surface().Draw(0, 0, picture);
    benchmark::DoNotOptimize(dib.ConstPixelData());
  }
}

void BM_NearestSprite(benchmark::State& s) { DrawNearest(s, Sprite(), false); }
void BM_NearestSprite_Cold(benchmark::State& s) { DrawNearest(s, Sprite(), true); }
void BM_NearestPhoto(benchmark::State& s) { DrawNearest(s, Photo(), false); }
void BM_NearestPhoto_Cold(benchmark::State& s) { DrawNearest(s, Photo(), true); }
BENCHMARK(BM_NearestSprite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NearestSprite_Cold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NearestPhoto)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NearestPhoto_Cold)->Unit(benchmark::kMillisecond);

// Floor: a naive scan of the 256 entries for every pixel.
void NaiveNearest(benchmark::State& state, const QImage& picture) {
  const TColorTable t = BenchPalette();
  std::vector<uint8_t> out(1024 * 1024);
  for (auto _ : state) {
    for (int y = 0; y < 1024; ++y) {
      const uchar* row = picture.constScanLine(y);
      for (int x = 0; x < 1024; ++x) {
        const int r = row[x * 3], g = row[x * 3 + 1], b = row[x * 3 + 2];
        int best = 0, bestD = INT32_MAX;
        for (int i = 0; i < 256; ++i) {
          const int dr = r - t[i * 4 + 2], dg = g - t[i * 4 + 1], db = b - t[i * 4];
          const int d = dr * dr + dg * dg + db * db;
          if (d < bestD) bestD = d, best = i;
        }
        out[size_t(y) * 1024 + size_t(x)] = uint8_t(best);
      }
    }
    benchmark::DoNotOptimize(out.data());
  }
}
void BM_NearestSprite_Naive(benchmark::State& s) { NaiveNearest(s, Sprite()); }
void BM_NearestPhoto_Naive(benchmark::State& s) { NaiveNearest(s, Photo()); }
BENCHMARK(BM_NearestSprite_Naive)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_NearestPhoto_Naive)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
