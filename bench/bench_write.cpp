// The write path: every change is a journalled transaction.  Each benchmark runs the
// change and its floor one right after the other in every iteration, and reports the
// change's time, the floor's ("floor_ms") and their ratio over the same iterations.
//
// - A size-changing replace of image 0 in a 1 GiB library moves the whole tail: its floor
//   is a copy of the tail into another file as cp makes it (inside the kernel), plus a
//   flush of the copy when the change's flushes count.  "Durable" runs
//   with the flushes; the other run simulates a disk that needs none (the flushes are
//   skipped through the file layer), to weigh the work apart from the disk.  Peak memory
//   growth over the run is reported as "peak_growth_MiB".
// - Small changes of a 64 x 64 image: their floor is writing the same bytes into the two
//   files with pwrite and one fsync of each.
//
// JOV_BENCH_DIR picks the folder (by default the system's temporary folder).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <random>

#include "bitmap/dib.h"
#include "common/byteio.h"
#include "library/jovformat.h"
#include "library/myjov.h"
#include "support/biglibrary.h"
#include "support/libbuilder.h"

namespace {

using Clock = std::chrono::steady_clock;

QTemporaryDir& Dir() {
  return BenchFolder(QStringLiteral("jovwrite"));
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Resident memory now.
long ResidentKiB() {
  QFile statm(QStringLiteral("/proc/self/statm"));
  if (!statm.open(QIODevice::ReadOnly)) return 0;
  const QList<QByteArray> fields = statm.readAll().split(' ');
  return fields.size() > 1 ? fields[1].toLong() * (::sysconf(_SC_PAGESIZE) / 1024) : 0;
}

// Flushes skipped: a disk that keeps everything at once.
class TNoFlush {
 public:
  TNoFlush() {
    old_ = TFile::SetFactory([](const QString& path, TFile::Mode mode) -> std::unique_ptr<TFile> {
      class TFileNoFlush final : public TFile {
       public:
        explicit TFileNoFlush(std::unique_ptr<TFile> inner)
            : TFile(inner->Path()), inner_(std::move(inner)) {}
        int64_t ReadAt(int64_t o, void* b, int64_t n) override { return inner_->ReadAt(o, b, n); }
        void WriteAt(int64_t o, const void* b, int64_t n) override { inner_->WriteAt(o, b, n); }
        int64_t ReadPartsAt(int64_t o, const Part* p, int c) override {
          return inner_->ReadPartsAt(o, p, c);
        }
        void WritePartsAt(int64_t o, const Part* p, int c) override {
          inner_->WritePartsAt(o, p, c);
        }
        int64_t Size() override { return inner_->Size(); }
        void Truncate(int64_t s) override { inner_->Truncate(s); }
        void Flush() override {}
        void Reserve(int64_t size) override { inner_->Reserve(size); }
        bool View(int64_t o, int64_t n, const std::function<void(const uint8_t*)>& f) override {
          return inner_->View(o, n, f);
        }
        void CopyFrom(TFile& source, int64_t from, int64_t offset, int64_t n, uint8_t* buffer,
                      int64_t size) override {
          auto* wrapped = dynamic_cast<TFileNoFlush*>(&source);
          inner_->CopyFrom(wrapped ? *wrapped->inner_ : source, from, offset, n, buffer, size);
        }
        bool TryLock() override { return inner_->TryLock(); }
        bool IsFileAt(const QString& path) override { return inner_->IsFileAt(path); }
        void Unlock() override { inner_->Unlock(); }

       private:
        std::unique_ptr<TFile> inner_;
      };
      return std::make_unique<TFileNoFlush>(TFile::OpenNative(path, mode));
    });
    TFolderOps ops;
    ops.syncFolder = [](const QString&) {};
    oldOps_ = SetFolderOps(std::move(ops));
  }
  ~TNoFlush() {
    TFile::SetFactory(std::move(old_));
    SetFolderOps(std::move(oldOps_));
  }

 private:
  TFile::Factory old_;
  TFolderOps oldOps_;
};

// Copies length bytes from offset of one file into a new file as cp does: inside the
// kernel (copy_file_range), through a 4 MiB buffer where that is not possible.
bool CopyTail(const QString& from, int64_t offset, int64_t length, const QString& to, bool flush) {
  const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
  const int out =
      ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  static std::vector<char> buffer(4 << 20);
  bool ok = in >= 0 && out >= 0;
  loff_t inAt = offset;
  int64_t done = 0;
  while (ok && done < length) {
    const ssize_t n = ::copy_file_range(in, &inAt, out, nullptr, size_t(length - done), 0);
    if (n <= 0) break;
    done += n;
  }
  while (ok && done < length) {
    const ssize_t n =
        ::pread(in, buffer.data(), size_t(std::min<int64_t>(buffer.size(), length - done)),
                off_t(offset + done));
    ok = n > 0 && ::write(out, buffer.data(), size_t(n)) == n;
    done += n;
  }
  if (ok && flush) ok = ::fsync(out) == 0;
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  return ok;
}

std::vector<uint8_t> Pixels(int side, uint8_t seed) {
  std::vector<uint8_t> v(size_t(side) * size_t(side));
  for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t(seed + i);
  return v;
}

// Replaces image 0 of a 1 GiB library by pictures of 64 x 64 and 128 x 128 in turn, so
// that every replace moves the whole tail.
void ReplaceMovingTail(benchmark::State& state, bool durable) {
  const QString path =
      BigLibrary(Dir().path(), "big", 16384, 256);  // 1 GiB of records behind image 0
  std::unique_ptr<TNoFlush> noFlush;
  if (!durable) noFlush = std::make_unique<TNoFlush>();
  TJOV jov;
  jov.Open(path);
  const std::vector<uint8_t> small = Pixels(64, 3), large = Pixels(128, 5);
  const QString copy = Dir().filePath("tail.copy");
  const long residentBefore = ResidentKiB();
  double changeSeconds = 0, floorSeconds = 0;
  bool grow = true;
  for (auto _ : state) {
    const int64_t tail = QFileInfo(path).size() - jov.IndexEntries()[1];
    // Each measurement starts with nothing left to write back from the one before.
    ::sync();
    auto t0 = Clock::now();
    const int side = grow ? 128 : 64;
    if (!jov.ReplaceRecord(0, side, side, (grow ? large : small).data()))
      state.SkipWithError("replace");
    const double change = Seconds(t0);
    ::sync();
    t0 = Clock::now();
    if (!CopyTail(path, jov.IndexEntries()[1], tail, copy, durable)) state.SkipWithError("copy");
    const double floor = Seconds(t0);
    QFile::remove(copy);
    grow = !grow;
    state.SetIterationTime(change);
    changeSeconds += change;
    floorSeconds += floor;
  }
  const double n = double(state.iterations());
  state.counters["floor_ms"] = floorSeconds * 1000 / n;
  state.counters["ratio"] = floorSeconds > 0 ? changeSeconds / floorSeconds : 0;
  // The peak over the whole process against what was resident before the first change:
  // an upper bound of what the changes added.
  state.counters["peak_growth_MiB"] = double(PeakKiB() - residentBefore) / 1024;
}

void BM_ReplaceMovingTail_1GiB_Durable(benchmark::State& s) {
  ReplaceMovingTail(s, true);
}
void BM_ReplaceMovingTail_1GiB_NoFlush(benchmark::State& s) {
  ReplaceMovingTail(s, false);
}
BENCHMARK(BM_ReplaceMovingTail_1GiB_NoFlush)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(4);
BENCHMARK(BM_ReplaceMovingTail_1GiB_Durable)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(4);

// The floor of a small change: the same bytes into the two files, one fsync of each.
struct Floor {
  int data, index;
  Floor(const QString& dataPath, const QString& indexPath)
      : data(::open(QFile::encodeName(dataPath).constData(), O_WRONLY | O_CLOEXEC)),
        index(::open(QFile::encodeName(indexPath).constData(), O_WRONLY | O_CLOEXEC)) {}
  ~Floor() {
    ::close(data);
    ::close(index);
  }
  bool Write(int64_t dataAt, const void* bytes, size_t n, int64_t indexAt, const void* entry,
             size_t m) const {
    return ::pwrite(data, bytes, n, off_t(dataAt)) == ssize_t(n) &&
           ::pwrite(index, entry, m, off_t(indexAt)) == ssize_t(m) && ::fsync(data) == 0 &&
           ::fsync(index) == 0;
  }
};

enum class Small { SameSizeReplace, Append, SetPlacement };

// Each iteration makes the change on a library that keeps a history and on a copy that
// keeps none, and writes the same bytes with one fsync of each file: "floor_ms", "ratio"
// (the change over the floor) and "history_ratio" (with the history over without), and
// "history_median_ratio", the ratio of the two medians, which the disk's rare stalls do
// not move.
void SmallChange(benchmark::State& state, Small kind) {
  const QString name = QStringLiteral("small%1").arg(int(kind));
  LibraryBuilder b(0);
  for (int i = 0; i < 1000; ++i) b.Add8(64, 64, 1, 2, Pixels(64, uint8_t(i)));
  TJOV jov, withoutHistory;
  jov.Open(b.Write(Dir().path(), name));
  withoutHistory.Open(b.Write(Dir().path(), name + "-nohistory"));
  withoutHistory.SetHistoryLimit(0);
  QImage picture(64, 64, QImage::Format_Indexed8);
  QList<QRgb> colours;
  for (int i = 0; i < 256; ++i)
    colours.append(qRgb(b.palette[i * 4 + 2], b.palette[i * 4 + 1], b.palette[i * 4]));
  picture.setColorTable(colours);
  picture.fill(9);
  const TPicture holder(picture);
  WriteFileBytes(Dir().filePath(name + ".floor.jov"), QByteArray(8 << 20, '\0'));
  WriteFileBytes(Dir().filePath(name + ".floor.JOX"), QByteArray(64 << 10, '\0'));
  const Floor floor(Dir().filePath(name + ".floor.jov"), Dir().filePath(name + ".floor.JOX"));
  const std::vector<uint8_t> record(8 + 64 * 64, 4);
  double changeSeconds = 0, floorSeconds = 0, bareSeconds = 0;
  int64_t appended = 0;
  std::vector<double> withTimes, bareTimes;
  auto change = [&](TJOV& library) {
    const auto t0 = Clock::now();
    bool ok = true;
    switch (kind) {
      case Small::SameSizeReplace:
        ok = library.ReplaceImage(500, holder);
        break;
      case Small::Append:
        ok = library.AppendImage(holder, 3, 4);
        break;
      case Small::SetPlacement:
        ok = library.SetImagePlacement(500, -5, int16_t(appended));
        break;
    }
    if (!ok) state.SkipWithError("change");
    return Seconds(t0);
  };
  for (auto _ : state) {
    // In turn first and second, so that neither gains from what the other left cached.
    double withHistory, bare;
    if (appended % 2 == 0) {
      withHistory = change(jov);
      bare = change(withoutHistory);
    } else {
      bare = change(withoutHistory);
      withHistory = change(jov);
    }
    bareSeconds += bare;
    withTimes.push_back(withHistory);
    bareTimes.push_back(bare);
    const auto t0 = Clock::now();
    // A replace or a placement writes into the data file only; an append writes the
    // record and the counts and the entry.
    const size_t dataBytes = kind == Small::SetPlacement ? 4 : record.size();
    const int64_t dataAt = kind == Small::Append ? 4 << 20 : 1 << 20;
    if (!floor.Write(dataAt + (appended % 64) * 4104, record.data(), dataBytes, 44, record.data(),
                     kind == Small::Append ? 8 : 0))
      state.SkipWithError("floor");
    const double f = Seconds(t0);
    ++appended;
    state.SetIterationTime(withHistory);
    changeSeconds += withHistory;
    floorSeconds += f;
  }
  const double n = double(state.iterations());
  state.counters["floor_ms"] = floorSeconds * 1000 / n;
  state.counters["ratio"] = floorSeconds > 0 ? changeSeconds / floorSeconds : 0;
  state.counters["history_ratio"] = bareSeconds > 0 ? changeSeconds / bareSeconds : 0;
  auto median = [](std::vector<double>& v) {
    if (v.empty()) return 0.0;
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
    return v[v.size() / 2];
  };
  const double bareMedian = median(bareTimes);
  state.counters["history_median_ratio"] = bareMedian > 0 ? median(withTimes) / bareMedian : 0;
}

void BM_SameSizeReplace_64x64(benchmark::State& s) {
  SmallChange(s, Small::SameSizeReplace);
}
void BM_Append_64x64(benchmark::State& s) {
  SmallChange(s, Small::Append);
}
void BM_SetPlacement(benchmark::State& s) {
  SmallChange(s, Small::SetPlacement);
}
BENCHMARK(BM_SameSizeReplace_64x64)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2);
BENCHMARK(BM_Append_64x64)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2);
BENCHMARK(BM_SetPlacement)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2);

}  // namespace
