// Creating a library from a folder of bitmap files, next to reading the same files and
// writing the same bytes into the two files with plain calls; and compacting a library,
// next to copying it with cp.  JOV_BENCH_DIR picks the file system (e.g. /dev/shm); by
// default the system's temporary folder.
//
// Each iteration runs the operation and its floor one right after the other: the
// reported time is the operation's, "floor_ms" the floor's and "ratio" operation / floor
// over the same iterations.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <random>

#include "common/byteio.h"
#include "editing/createlib.h"
#include "editing/exchange.h"
#include "editing/export.h"
#include "library/myjov.h"
#include "support/biglibrary.h"
#include "support/libbuilder.h"

namespace {

using Clock = std::chrono::steady_clock;

QTemporaryDir& Dir() {
  return BenchFolder(QStringLiteral("jovcreate"));
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void Report(benchmark::State& state, double opSeconds, double floorSeconds) {
  const double n = double(state.iterations());
  state.counters["floor_ms"] = floorSeconds * 1000 / n;
  state.counters["ratio"] = floorSeconds > 0 ? opSeconds / floorSeconds : 0;
}

// An exchange folder of count w x h images, exported once from a library.
QString Folder(int count, int w, int h) {
  const QString folder = Dir().filePath(QStringLiteral("pics%1").arg(count));
  if (QDir(folder).exists()) return folder;
  LibraryBuilder b(0);
  std::vector<uint8_t> pixels(size_t(w) * size_t(h));
  std::mt19937 rng(9);
  for (auto& p : pixels) p = uint8_t(rng());
  for (int i = 0; i < count; ++i) b.Add8(int16_t(w), int16_t(h), int16_t(i % 100), -7, pixels);
  TJOV jov;
  jov.Open(b.Write(Dir().path(), QStringLiteral("source%1").arg(count)));
  QDir().mkpath(folder);
  ExportSequence(jov, folder, {0, count - 1});
  return folder;
}

// The floor of a create: every bitmap and placement file read whole, and a data file and
// an index file of the same sizes written with plain calls and flushed once.
bool PlainCreate(const QString& folder, const QString& out, int w, int h) {
  const QStringList names = QDir(folder).entryList({"*.bmp"}, QDir::Files, QDir::Name);
  const int fd =
      ::open(QFile::encodeName(out + ".jov").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  const int fx =
      ::open(QFile::encodeName(out + ".JOX").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0 || fx < 0) return false;
  std::vector<char> file(1 << 20), record(size_t(8 + w * h));
  std::vector<int32_t> entries;
  int64_t at = 1080;
  bool ok = ::write(fd, file.data(), 1080) == 1080;
  for (const QString& name : names) {
    for (const QString& path :
         {folder + "/" + name, folder + "/Placements/" + QString(name).replace(".bmp", ".txt")}) {
      const int f = ::open(QFile::encodeName(path).constData(), O_RDONLY);
      ok = ok && f >= 0 && ::read(f, file.data(), file.size()) > 0;
      if (f >= 0) ::close(f);
    }
    ok = ok && ::write(fd, record.data(), record.size()) == ssize_t(record.size());
    entries.push_back(int32_t(at));
    at += int64_t(record.size());
  }
  ok = ok && ::write(fx, file.data(), 48) == 48 &&
       ::write(fx, entries.data(), entries.size() * 4) == ssize_t(entries.size() * 4);
  ok = ok && ::fsync(fd) == 0 && ::fsync(fx) == 0;
  ::close(fd);
  ::close(fx);
  return ok;
}

void BM_Create_10000_64x64(benchmark::State& state) {
  const QString folder = Folder(10000, 64, 64);
  const QString lib = Dir().filePath("made.jov"), plain = Dir().filePath("plain");
  double op = 0, floor = 0;
  bool floorFirst = false;
  for (auto _ : state) {
    double e = 0, r = 0;
    for (int pass = 0; pass < 2; ++pass) {
      const auto t0 = Clock::now();
      if ((pass == 0) == floorFirst) {
        if (!PlainCreate(folder, plain, 64, 64)) state.SkipWithError("plain writes");
        r = Seconds(t0);
      } else {
        CreateLibrary({folder, lib, true, std::nullopt});
        e = Seconds(t0);
      }
    }
    floorFirst = !floorFirst;
    state.SetIterationTime(e);
    op += e;
    floor += r;
  }
  Report(state, op, floor);
  state.counters["images/s"] =
      benchmark::Counter(10000, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Create_10000_64x64)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(4);

// A library of about size bytes: 64 x 64 records, each followed by stale bytes that make
// a tenth of the file.  Written once with plain calls.
QString GappyLibrary(int64_t size) {
  const QString name = QStringLiteral("gappy%1").arg(size);
  const QString path = Dir().filePath(name + ".jov");
  if (QFile::exists(path)) return path;
  constexpr int kRecord = 8 + 64 * 64, kGap = kRecord / 9;
  const int count = int((size - 1080) / (kRecord + kGap));
  const LibraryBuilder empty(0);
  QByteArray header = empty.Data(), index = empty.Index();
  PutI32(reinterpret_cast<uint8_t*>(header.data()) + 44, count);
  PutI32(reinterpret_cast<uint8_t*>(index.data()) + 44, count);
  QByteArray chunk;
  std::vector<int32_t> entries;
  QByteArray record(kRecord + kGap, char(0x5A));
  PutI16(reinterpret_cast<uint8_t*>(record.data()), 64);
  PutI16(reinterpret_cast<uint8_t*>(record.data()) + 2, 64);
  std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
  std::fwrite(header.constData(), 1, size_t(header.size()), f);
  int64_t at = header.size();
  for (int i = 0; i < count; ++i) {
    entries.push_back(int32_t(at));
    std::fwrite(record.constData(), 1, size_t(record.size()), f);
    at += record.size();
  }
  std::fclose(f);
  index.append(reinterpret_cast<const char*>(entries.data()), qsizetype(entries.size() * 4));
  WriteFileBytes(Dir().filePath(name + ".JOX"), index);
  return path;
}

void Compact(benchmark::State& state, int64_t size) {
  const QString original = GappyLibrary(size);
  const QString originalIndex = QString(original).replace(".jov", ".JOX");
  const QString lib = Dir().filePath("work.jov"), libIndex = Dir().filePath("work.JOX");
  double op = 0, floor = 0;
  for (auto _ : state) {
    // The floor lays the library to compact: cp of both files.
    auto t0 = Clock::now();
    const int code = QProcess::execute("cp", {original, originalIndex, Dir().path() + "/copy/"});
    const double r = Seconds(t0);
    if (code != 0) state.SkipWithError("cp");
    QFile::remove(lib);
    QFile::remove(libIndex);
    QFile::rename(Dir().filePath("copy/" + QFileInfo(original).fileName()), lib);
    QFile::rename(Dir().filePath("copy/" + QFileInfo(originalIndex).fileName()), libIndex);
    TJOV jov;
    jov.Open(lib);
    t0 = Clock::now();
    const int64_t freed = CompactLibrary(jov);
    const double e = Seconds(t0);
    if (freed <= 0) state.SkipWithError("nothing freed");
    state.SetIterationTime(e);
    op += e;
    floor += r;
  }
  Report(state, op, floor);
  state.counters["MiB"] = double(size >> 20);
}

void BM_Compact_1GiB(benchmark::State& s) {
  QDir().mkpath(Dir().filePath("copy"));
  Compact(s, int64_t(1) << 30);
}
void BM_Compact_128MiB(benchmark::State& s) {
  QDir().mkpath(Dir().filePath("copy"));
  Compact(s, int64_t(128) << 20);
}
BENCHMARK(BM_Compact_128MiB)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_Compact_1GiB)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace
