// Insert, delete and clear on large libraries, each next to `cp` of the bytes it moves
// (and `cp` plus `sync`, since a change flushes its files) in the same iteration.
// JOV_BENCH_DIR picks the file system; by default the system's temporary folder.
// JOV_BENCH_MIB scales the libraries (default 1024: the insert/delete library in MiB, the
// clear libraries half of it).
//
// Counters: "cp_ms" and "cp_sync_ms" the copies, "ratio" and "ratio_sync" the operation
// over each, "peak_mib" the growth of the resident memory during the operation; for the
// undo of an insert, "ratio" is its time over the insert's.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "editing/rangeedit.h"
#include "editing/undo.h"
#include "library/jovformat.h"
#include "library/myjov.h"
#include "support/biglibrary.h"

namespace {

using Clock = std::chrono::steady_clock;

QTemporaryDir& Dir() {
  return BenchFolder(QStringLiteral("jovrange"));
}

int64_t LibraryMiB() {
  const int64_t mib = qEnvironmentVariableIntValue("JOV_BENCH_MIB");
  return mib > 0 ? mib : 1024;
}

// Writes a FileType 0 library of count records of w x h straight to the files, through
// one record-sized buffer.
QString Library(const QString& name, int count, int w, int h) {
  const QString path = Dir().filePath(name + ".jov");
  const int64_t record = jov::kImageHeaderSize + int64_t(w) * h;
  std::vector<uint8_t> header(jov::kFirstRecord), palette(jov::kPaletteSize);
  for (int i = 0; i < 256; ++i) palette[size_t(i) * 4] = palette[size_t(i) * 4 + 1] = uint8_t(i);
  jov::EncodeDataHeader(header.data(), 0, count, palette.data());
  std::vector<uint8_t> buffer(static_cast<size_t>(record));
  for (size_t i = 8; i < buffer.size(); ++i) buffer[i] = uint8_t(i * 31);
  jov::EncodeRecordHeader(buffer.data(), 0, w, h, 3, -4);
  std::vector<int32_t> entries(static_cast<size_t>(count));
  {
    std::ofstream out(QFile::encodeName(path).toStdString(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
    for (int i = 0; i < count; ++i) {
      entries[size_t(i)] = int32_t(jov::kFirstRecord + record * i);
      out.write(reinterpret_cast<const char*>(buffer.data()), std::streamsize(record));
    }
  }
  std::vector<uint8_t> index(jov::kIndexHeaderSize + entries.size() * 4);
  jov::EncodeIndexHeader(index.data(), 0, count);
  jov::EncodeIndexEntries(index.data() + jov::kIndexHeaderSize, entries);
  std::ofstream(QFile::encodeName(Dir().filePath(name + ".JOX")).toStdString(), std::ios::binary)
      .write(reinterpret_cast<const char*>(index.data()), std::streamsize(index.size()));
  // On the disk before anything is measured: a file system that shifts a file's blocks
  // first writes back what it still caches, which would weigh on the first edit measured.
  if (QFile file(path); file.open(QIODevice::ReadOnly)) ::fsync(file.handle());
  return path;
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// `cp` of the data file (when the bytes moved are all of it but at most 1 MiB), else
// `tail -c` of its last `bytes` bytes; then optionally `sync` of the copy.
double Copy(const QString& path, int64_t bytes, bool sync) {
  const QString target = Dir().filePath("copy.bin");
  QFile::remove(target);
  const std::string command =
      QStringLiteral("tail -c %1 '%2' > '%3'%4")
          .arg(bytes)
          .arg(path, target, sync ? QStringLiteral(" && sync '%1'").arg(target) : QString())
          .toStdString();
  const std::string cp =
      QStringLiteral("cp '%1' '%2'%3")
          .arg(path, target, sync ? QStringLiteral(" && sync '%1'").arg(target) : QString())
          .toStdString();
  const int64_t size = QFileInfo(path).size();
  const auto t0 = Clock::now();
  const int rc = std::system((bytes >= size - (1 << 20) ? cp : command).c_str());
  const double s = Seconds(t0);
  QFile::remove(target);
  return rc == 0 ? s : -1;
}

// Resident memory now, and the peak since ResetPeak, in KiB.
int64_t Status(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + std::strlen(key));
  return 0;
}
void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

struct Pair {
  double op = 0, cp = 0, cpSync = 0, peakKiB = 0;
};

// Runs op (which reports the bytes it moves) next to the copies of those bytes; prepare
// runs untimed before each op.
template <class Prepare, class Op>
void Measure(benchmark::State& state, const QString& path, Prepare&& prepare, Op&& op) {
  Pair total;
  for (auto _ : state) {
    prepare();
    // The library at rest on the disk before the change, as a user's library is.
    ::sync();
    const int64_t before = Status("VmRSS:");
    ResetPeak();
    const auto t0 = Clock::now();
    const int64_t moved = op();
    const double seconds = Seconds(t0);
    if (moved < 0) {
      state.SkipWithError("the operation failed");
      return;
    }
    total.peakKiB = std::max(total.peakKiB, double(Status("VmHWM:") - before));
    total.op += seconds;
    total.cp += Copy(path, moved, false);
    total.cpSync += Copy(path, moved, true);
    state.SetIterationTime(seconds);
  }
  state.counters["cp_ms"] = total.cp * 1000 / double(state.iterations());
  state.counters["cp_sync_ms"] = total.cpSync * 1000 / double(state.iterations());
  state.counters["ratio"] = total.op / total.cp;
  state.counters["ratio_sync"] = total.op / total.cpSync;
  state.counters["peak_mib"] = total.peakKiB / 1024;
}

// One library for the insert and the delete: records of 640 x 480.
const QString& BigLibrary() {
  static const QString path =
      Library("big", int(LibraryMiB() * (1 << 20) / (8 + 640 * 480)), 640, 480);
  return path;
}

void BM_InsertAt0(benchmark::State& state) {
  TJOV jov;
  jov.Open(BigLibrary());
  const std::vector<uint8_t> pixels(64 * 64, 5);
  Measure(
      state, jov.FileName(), [] {},
      [&]() -> int64_t {
        const int64_t moved = jov.DataStream()->Size() - *jov.EntryOf(0);
        try {
          InsertRecord(jov, 0, 64, 64, 1, 2, pixels.data());
        } catch (...) {
          return -1;
        }
        return moved;
      });
}

void BM_Delete0To9(benchmark::State& state) {
  TJOV jov;
  jov.Open(BigLibrary());
  Measure(
      state, jov.FileName(), [] {},
      [&]() -> int64_t {
        const int64_t moved = jov.DataStream()->Size() - *jov.EntryOf(10);
        DeleteRange(jov, 0, 9);
        return moved;
      });
}

// An insert at 0 and its undo, each moving the whole library: the undo's time over the
// insert's ("ratio"), and what the insert's entry weighs in the history ("entry_kib").
void BM_UndoInsertAt0(benchmark::State& state) {
  TJOV jov;
  jov.Open(BigLibrary());
  const std::vector<uint8_t> pixels(64 * 64, 5);
  double insertSeconds = 0, undoSeconds = 0;
  int64_t entryBytes = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    InsertRecord(jov, 0, 64, 64, 1, 2, pixels.data());
    const double insert = std::chrono::duration<double>(Clock::now() - t0).count();
    entryBytes = ListHistory(jov.Paths()).done.front().bytes;
    t0 = Clock::now();
    UndoOrRedo(jov, THistoryRole::Undo);
    const double undo = std::chrono::duration<double>(Clock::now() - t0).count();
    state.SetIterationTime(undo);
    insertSeconds += insert;
    undoSeconds += undo;
  }
  state.counters["insert_ms"] = insertSeconds * 1000 / double(state.iterations());
  state.counters["ratio"] = undoSeconds / insertSeconds;
  state.counters["entry_kib"] = double(entryBytes) / 1024;
}

// Clear 1,000 images of a library of half the size: all of a library of 1,000 images,
// and images 1,000 to 1,999 of one of 10,000.
void Clear(benchmark::State& state, int count, int first) {
  const int64_t bytes = LibraryMiB() * (1 << 20) / 2;
  const int side = int(std::sqrt(double(bytes / count))) / 4 * 4;
  const QString name = QStringLiteral("clear%1").arg(count);
  const QString path = Dir().filePath(name + ".jov");
  std::unique_ptr<TJOV> jov;
  Measure(
      state, path,
      [&] {
        // A fresh library each time: a cleared one has nothing left to clear.
        jov.reset();
        Library(name, count, side, side);
        jov = std::make_unique<TJOV>();
        jov->Open(path);
      },
      [&]() -> int64_t {
        const int64_t moved = jov->DataStream()->Size() - *jov->EntryOf(first);
        ClearRange(*jov, first, first + 999);
        return moved;
      });
}

void BM_Clear1000Of1000(benchmark::State& s) {
  Clear(s, 1000, 0);
}
void BM_Clear1000Of10000(benchmark::State& s) {
  Clear(s, 10000, 1000);
}

BENCHMARK(BM_InsertAt0)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK(BM_UndoInsertAt0)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK(BM_Delete0To9)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK(BM_Clear1000Of1000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK(BM_Clear1000Of10000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

}  // namespace
