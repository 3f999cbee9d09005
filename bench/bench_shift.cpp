// Edits that shift the file system's extents instead of copying the tail, each next to its
// floor in the same iteration: appending the same 64 x 64 picture to the same library.
// On ext4 and XFS the tail moves by whole blocks; elsewhere (tmpfs, or a file system that
// refuses) the edits copy as they always did.  bench/shift.sh runs this on loop-mounted
// ext4 and XFS and on the system's temporary folder; JOV_BENCH_DIR picks the folder.
//
// Counters: "append_ms" the floor, "ratio" the edit over it, "first_ms" the first edit;
// for the random edits,
// "gap_per_edit" the bytes between records each edit left on average and
// "gap_after_compact" what a compact left.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <chrono>
#include <random>
#include <vector>

#include "editing/createlib.h"
#include "editing/rangeedit.h"
#include "library/jovcheck.h"
#include "library/myjov.h"
#include "support/biglibrary.h"

namespace {

using Clock = std::chrono::steady_clock;

QTemporaryDir& Dir() {
  return BenchFolder(QStringLiteral("jovshift"));
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

const std::vector<uint8_t>& Pixels(int side) {
  static std::vector<uint8_t> pixels[2] = {std::vector<uint8_t>(64 * 64, 5),
                                           std::vector<uint8_t>(80 * 80, 9)};
  return pixels[side == 64 ? 0 : 1];
}

// The floor: the same picture appended to the same library, and taken off again untimed.
double Append(TJOV& jov) {
  const auto t0 = Clock::now();
  InsertRecord(jov, jov.ImageCount(), 64, 64, 3, 4, Pixels(64).data());
  const double s = Seconds(t0);
  DeleteRange(jov, jov.ImageCount() - 1, jov.ImageCount() - 1);
  return s;
}

// Runs edit (timed) and then undo (untimed), next to the floor.  The first shift of a
// library whose pages are cached pays for the file system dropping them from the shift on
// (tens of milliseconds for 1 GiB on ext4, once): it is timed apart, as "first_ms",
// before the iterations.
template <class Edit, class Undo>
void Measure(benchmark::State& state, Edit&& edit, Undo&& undo) {
  TJOV jov;
  jov.Open(BigLibrary(Dir().path(), "big", 16384, 256));  // 1 GiB behind image 0
  jov.SetHistoryLimit(0);
  ::sync();
  const auto first = Clock::now();
  edit(jov);
  state.counters["first_ms"] = Seconds(first) * 1000;
  undo(jov);
  double editTotal = 0, floorTotal = 0;
  for (auto _ : state) {
    ::sync();
    const auto t0 = Clock::now();
    edit(jov);
    const double s = Seconds(t0);
    undo(jov);
    ::sync();
    floorTotal += Append(jov);
    editTotal += s;
    state.SetIterationTime(s);
  }
  state.counters["append_ms"] = floorTotal * 1000 / double(state.iterations());
  state.counters["ratio"] = editTotal / floorTotal;
}

void BM_InsertAt0_1GiB(benchmark::State& state) {
  Measure(
      state, [](TJOV& jov) { InsertRecord(jov, 0, 64, 64, 3, 4, Pixels(64).data()); },
      [](TJOV& jov) { DeleteRange(jov, 0, 0); });
}

void BM_Delete0To9_1GiB(benchmark::State& state) {
  std::vector<std::vector<uint8_t>> saved;
  Measure(
      state, [](TJOV& jov) { DeleteRange(jov, 0, 9); },
      [](TJOV& jov) {
        for (int i = 0; i < 10; ++i)
          InsertRecord(jov, 0, 256, 256, 0, 0, std::vector<uint8_t>(256 * 256, 1).data());
      });
}

void BM_ReplaceSizeChanging0_1GiB(benchmark::State& state) {
  Measure(
      state, [](TJOV& jov) { jov.ReplaceRecord(0, 80, 80, Pixels(80).data()); },
      [](TJOV& jov) { jov.ReplaceRecord(0, 64, 64, Pixels(64).data()); });
}

// 1,000 inserts and deletes at random places of a 64 MiB library: the gaps they leave,
// and what compact leaves of them.
void BM_GapsAfter1000RandomEdits(benchmark::State& state) {
  for (auto _ : state) {
    QDir(Dir().path()).remove("gaps.jov");
    QDir(Dir().path()).remove("gaps.JOX");
    TJOV jov;
    jov.Open(BigLibrary(Dir().path(), "gaps", 1024, 256));
    jov.SetHistoryLimit(0);
    TGaps before;
    CheckLibrary(jov, &before);
    std::mt19937 random(7);
    const auto t0 = Clock::now();
    for (int edit = 0; edit < 1000; ++edit) {
      const int at = int(random() % uint32_t(jov.ImageCount() - 1));
      if (edit % 2 == 0)
        InsertRecord(jov, at, 64, 64, 1, 1, Pixels(64).data());
      else
        DeleteRange(jov, at, at);
    }
    state.SetIterationTime(Seconds(t0));
    TGaps after;
    CheckLibrary(jov, &after);
    state.counters["gap_per_edit"] = double(after.total - before.total) / 1000;
    state.counters["largest_gap"] = double(after.largest);
    CompactLibrary(jov);
    TGaps compacted;
    CheckLibrary(jov, &compacted);
    state.counters["gap_after_compact"] = double(compacted.total);
  }
}

}  // namespace

BENCHMARK(BM_InsertAt0_1GiB)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_Delete0To9_1GiB)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_ReplaceSizeChanging0_1GiB)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);
BENCHMARK(BM_GapsAfter1000RandomEdits)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);
