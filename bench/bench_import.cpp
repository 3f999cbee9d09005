// Batch imports, each next to the plain file work it cannot do without, measured in the
// same iteration: the reported time is the import's, "floor_ms" the plain work's and
// "ratio" import / floor over the same iterations.  JOV_BENCH_DIR picks the file system
// (e.g. /dev/shm); by default the system's temporary folder.
//
// - Add of 10,000 64 x 64 bitmap files: against reading the files and appending the same
//   record bytes and entries with plain reads and writes.
// - Insert of 1,000 64 x 64 files at index 0 of a 512 MiB library: against copying the
//   moved bytes (as cp does) plus the plain appends.  "peak_MiB" is the growth of the
//   process's peak resident memory during the import.
// - Pic over 1,000 images whose size changes, in a 512 MiB library: against one copy of
//   the bytes behind the first image.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/byteio.h"
#include "editing/batchimport.h"
#include "editing/exchange.h"
#include "library/jovformat.h"
#include "library/myjov.h"
#include "support/biglibrary.h"
#include "support/bmpbuilder.h"
#include "support/libbuilder.h"

namespace {

using Clock = std::chrono::steady_clock;

QTemporaryDir& Dir() {
  return BenchFolder(QStringLiteral("jovimport"));
}

double Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// A folder of count bitmap files of w x h, 8 bits with the library palette (as an export
// writes them), named as an exchange folder names them from first on.
QString Pictures(const QString& name, int count, int w, int h, int first = 0) {
  const QString folder = Dir().filePath(name);
  if (QDir(folder).exists()) return folder;
  QDir().mkpath(folder);
  const LibraryBuilder palette(0);
  BmpSpec spec;
  spec.width = w;
  spec.height = h;
  spec.depth = 8;
  for (int i = 0; i < 256; ++i) {
    const uint8_t* c = palette.palette.data() + 4 * i;
    spec.colours.push_back(uint32_t(c[2]) << 16 | uint32_t(c[1]) << 8 | c[0]);
  }
  spec.pixels.resize(int(BmpRowBytes(8, w) * h));
  for (int i = 0; i < spec.pixels.size(); ++i) spec.pixels[i] = char(i * 7 % 251 + 1);
  const QByteArray bytes = BuildBmp(spec);
  for (int i = 0; i < count; ++i)
    WriteBytesToFile(folder + "/" + ExchangeBitmapName(first + i), bytes);
  return folder;
}

// Writes a library of count records of w x h quickly (the same record again and again)
// as name.jov / name.JOX; returns the data file's path.
QString BigLibrary(const QString& name, int count, int w, int h) {
  const QString path = Dir().filePath(name + ".jov");
  if (QFile::exists(path)) return path;
  const LibraryBuilder palette(0);
  uint8_t header[jov::kFirstRecord];
  jov::EncodeDataHeader(header, 0, count, palette.palette.data());
  std::vector<uint8_t> record(size_t(jov::kImageHeaderSize) + size_t(w) * size_t(h), 9);
  jov::EncodeRecordHeader(record.data(), 0, w, h, 1, 2);
  std::vector<uint8_t> many;
  constexpr int kBatch = 512;
  for (int i = 0; i < kBatch; ++i) many.insert(many.end(), record.begin(), record.end());
  std::ofstream data(path.toStdString(), std::ios::binary);
  data.write(reinterpret_cast<const char*>(header), sizeof header);
  for (int i = 0; i < count; i += kBatch)
    data.write(reinterpret_cast<const char*>(many.data()),
               std::streamsize(record.size() * size_t(std::min(kBatch, count - i))));
  std::vector<uint8_t> index(size_t(jov::kIndexHeaderSize) + 4 * size_t(count));
  jov::EncodeIndexHeader(index.data(), 0, count);
  for (int i = 0; i < count; ++i)
    PutI32(index.data() + jov::kIndexHeaderSize + 4 * i,
           int32_t(jov::kFirstRecord + int64_t(i) * int64_t(record.size())));
  std::ofstream(Dir().filePath(name + ".JOX").toStdString(), std::ios::binary)
      .write(reinterpret_cast<const char*>(index.data()), std::streamsize(index.size()));
  return path;
}

// Copies a whole file with plain reads and writes through a 4 MiB buffer, as cp does.
void CopyFile(const QString& from, const QString& to, int64_t offset = 0, bool sync = false) {
  const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
  const int out =
      ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  static std::vector<char> buffer(4 << 20);
  ssize_t n;
  while ((n = ::pread(in, buffer.data(), buffer.size(), offset)) > 0) {
    if (::write(out, buffer.data(), size_t(n)) != n) break;
    offset += n;
  }
  if (sync) ::fsync(out);
  ::close(in);
  ::close(out);
}

// Lays the library down again, on the disk: a library at rest before the change.
void Restore(const QString& pristine, const QString& lib) {
  CopyFile(pristine, lib, 0, true);
  CopyFile(QString(pristine).replace(".jov", ".JOX"), QString(lib).replace(".jov", ".JOX"), 0,
           true);
}

// The floor of an append: every file read whole with plain reads, the record bytes
// (header and w x h pixels) appended to one file and the entries to another.
void PlainAppends(const QString& folder, const QStringList& files, int w, int h,
                  bool sync = false) {
  const QString out = Dir().filePath("plain");
  const int data = ::open(QFile::encodeName(out + ".jov").constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  const int index = ::open(QFile::encodeName(out + ".JOX").constData(),
                           O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  std::vector<char> file(1 << 20), record(size_t(8 + w * h));
  std::vector<char> entries;
  int64_t at = 0;
  for (const QString& name : files) {
    const int fd = ::open(QFile::encodeName(folder + "/" + name).constData(), O_RDONLY | O_CLOEXEC);
    const ssize_t n = ::read(fd, file.data(), file.size());
    ::close(fd);
    std::memcpy(record.data() + 8, file.data() + std::max<ssize_t>(0, n - w * h), size_t(w * h));
    if (::write(data, record.data(), record.size()) < 0) break;
    entries.insert(entries.end(), reinterpret_cast<char*>(&at), reinterpret_cast<char*>(&at) + 4);
    at += int64_t(record.size());
  }
  if (::write(index, entries.data(), entries.size()) < 0) return;
  if (sync) {
    ::fsync(data);
    ::fsync(index);
  }
  ::close(data);
  ::close(index);
}

// The peak resident memory since the last reset, and the reset (Linux).
int64_t PeakKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
  return 0;
}
int64_t ResetPeakKiB() {
  std::ofstream("/proc/self/clear_refs") << "5";
  return PeakKiB();
}

// "ratio": against the floor as plain writes; "ratio_sync": against the same writes
// flushed to the disk, as the import flushes its files.
void Report(benchmark::State& state, double importSeconds, double floorSeconds,
            double floorSyncSeconds = 0) {
  const double n = double(state.iterations());
  state.counters["floor_ms"] = floorSeconds * 1000 / n;
  state.counters["ratio"] = floorSeconds > 0 ? importSeconds / floorSeconds : 0;
  if (floorSyncSeconds > 0) {
    state.counters["floor_sync_ms"] = floorSyncSeconds * 1000 / n;
    state.counters["ratio_sync"] = importSeconds / floorSyncSeconds;
  }
}

void BM_Add_10000_64x64(benchmark::State& state) {
  const QString folder = Pictures("add", 10000, 64, 64);
  const QStringList files = ListBitmapFiles(folder);
  LibraryBuilder small(0);
  small.Add8(4, 1, 0, 0, {1, 2, 3, 4});
  const QString pristine = small.Write(Dir().path(), "smallpristine");
  const QString lib = small.Write(Dir().path(), "small");
  double imported = 0, floor = 0;
  for (auto _ : state) {
    Restore(pristine, lib);
    TJOV jov;
    jov.Open(lib);
    auto t0 = Clock::now();
    ImportAdd(jov, folder, files, {true, {1, 2}});
    const double e = Since(t0);
    t0 = Clock::now();
    PlainAppends(folder, files, 64, 64);
    const double f = Since(t0);
    state.SetIterationTime(e);
    imported += e;
    floor += f;
  }
  Report(state, imported, floor);
}

// 512 MiB of 64 x 64 records.
constexpr int kBigCount = (512 << 20) / (8 + 64 * 64);

void BM_Insert_1000_At0_Of_512MiB(benchmark::State& state) {
  const QString folder = Pictures("insert", 1000, 64, 64);
  const QStringList files = ListBitmapFiles(folder);
  const QString pristine = BigLibrary("bigpristine", kBigCount, 64, 64);
  const QString lib = Dir().filePath("big.jov");
  double imported = 0, floor = 0, floorSync = 0, peak = 0;
  for (auto _ : state) {
    Restore(pristine, lib);
    TJOV jov;
    jov.Open(lib);
    const int64_t before = ResetPeakKiB();
    auto t0 = Clock::now();
    ImportInsert(jov, folder, files, {true, {1, 2}}, 0);
    const double e = Since(t0);
    peak = std::max(peak, double(PeakKiB() - before) / 1024);
    jov.Close();
    t0 = Clock::now();
    CopyFile(pristine, Dir().filePath("moved.bin"), jov::kFirstRecord);
    PlainAppends(folder, files, 64, 64);
    const double f = Since(t0);
    t0 = Clock::now();
    CopyFile(pristine, Dir().filePath("moved.bin"), jov::kFirstRecord, true);
    PlainAppends(folder, files, 64, 64, true);
    floorSync += Since(t0);
    state.SetIterationTime(e);
    imported += e;
    floor += f;
  }
  Report(state, imported, floor, floorSync);
  state.counters["peak_MiB"] = peak;
}

void BM_Pic_1000_SizeChanges_In_512MiB(benchmark::State& state) {
  // 68 x 64 pictures over 64 x 64 records: every record grows by 256 bytes.
  const QString folder = Pictures("pic", 1000, 68, 64);
  const QString pristine = BigLibrary("bigpristine", kBigCount, 64, 64);
  const QString lib = Dir().filePath("big.jov");
  double imported = 0, floor = 0, floorSync = 0;
  for (auto _ : state) {
    Restore(pristine, lib);
    TJOV jov;
    jov.Open(lib);
    auto t0 = Clock::now();
    ImportPixels(jov, folder, 0, 999);
    const double e = Since(t0);
    jov.Close();
    t0 = Clock::now();
    CopyFile(pristine, Dir().filePath("moved.bin"), jov::kFirstRecord);
    const double f = Since(t0);
    t0 = Clock::now();
    CopyFile(pristine, Dir().filePath("moved.bin"), jov::kFirstRecord, true);
    floorSync += Since(t0);
    state.SetIterationTime(e);
    imported += e;
    floor += f;
  }
  Report(state, imported, floor, floorSync);
}

BENCHMARK(BM_Add_10000_64x64)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_Insert_1000_At0_Of_512MiB)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);
BENCHMARK(BM_Pic_1000_SizeChanges_In_512MiB)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

}  // namespace
