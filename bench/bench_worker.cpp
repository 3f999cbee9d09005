// Long changes on a worker thread, as the window runs them: what the thread, the queued
// progress and the local event loop cost against the same run inline, and how long the
// window's events wait while a large change runs.
//
// - BM_WorkerVsInline: one picture inserted in the middle of a 64 MiB library (the records
//   behind it move in place under the journal).  Every iteration runs it inline (the
//   floor, "floor_ms") and on the worker (TWorkerRun, as a dialog does), each from the same
//   files; "ratio" is worker / inline over the same iterations (target: at most 1.05).
// - BM_EventDelayDuringChange_1GiB: an insert at 0 of a 1 GiB library, then the delete of
//   that image, on the worker, while a 10 ms timer runs on the window's thread;
//   "max_delay_ms" is the longest the timer fired late (target: at most 50 ms).
//
// JOV_BENCH_DIR picks the folder (by default the system's temporary folder).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>

#include "bitmap/dib.h"
#include "common/operation.h"
#include "editing/requests.h"
#include "library/myjov.h"
#include "support/biglibrary.h"
#include "widgets/workerrun.h"

namespace {

using Clock = std::chrono::steady_clock;

QTemporaryDir& Dir() {
  return BenchFolder(QStringLiteral("jovworker"));
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Puts the pristine pair back at lib.
void Restore(const QString& pristine, const QString& lib) {
  for (const char* ext : {".jov", ".JOX"}) {
    const QString from = pristine.chopped(4) + ext, to = lib.chopped(4) + ext;
    QFile::remove(to);
    QFile::copy(from, to);
  }
}

TPicture Picture() {
  QImage image(64, 64, QImage::Format_RGB32);
  image.fill(qRgb(200, 40, 90));
  return TPicture(image);
}

TAddRequest InsertAt(int index) {
  TAddRequest request;
  request.picturePath = QStringLiteral("picture");
  request.insert = true;
  request.index = index;
  return request;
}

void BM_WorkerVsInline(benchmark::State& state) {
  const int count = 1024;  // of 256 x 256: 64 MiB
  const QString pristine = BigLibrary(Dir().path(), "pristine64", count, 256);
  const QString lib = Dir().filePath("work64.jov");
  const TPicture picture = Picture();
  const TAddRequest request = InsertAt(count / 2);
  TWorkerRun worker;
  double inline_ = 0, onWorker = 0;
  for (auto _ : state) {
    Restore(pristine, lib);
    auto start = Clock::now();
    {
      TJOV jov;
      jov.Open(lib);
      TOperationDelegate quiet;
      if (!request.Run(jov, picture, &quiet).Done()) state.SkipWithError("inline run failed");
    }
    inline_ += Seconds(start);
    Restore(pristine, lib);
    TJOV window;
    window.Open(lib);
    start = Clock::now();
    const TOutcome outcome =
        worker.Run(window, TRunTarget::Change,
                   [&](TJOV* jov, TOperationDelegate* d) { return request.Run(*jov, picture, d); });
    onWorker += Seconds(start);
    if (!outcome.Done()) state.SkipWithError("worker run failed");
  }
  const double n = double(state.iterations());
  state.counters["floor_ms"] = inline_ / n * 1000;
  state.counters["worker_ms"] = onWorker / n * 1000;
  state.counters["ratio"] = onWorker / inline_;
}
BENCHMARK(BM_WorkerVsInline)->Iterations(8)->Unit(benchmark::kMillisecond);

void BM_EventDelayDuringChange_1GiB(benchmark::State& state) {
  const QString lib = BigLibrary(Dir().path(), "big", 16384, 256);  // 1 GiB behind image 0
  const TPicture picture = Picture();
  const TAddRequest insert = InsertAt(0);
  TDeleteRequest remove;
  remove.beginText = remove.endText = QStringLiteral("0");
  TWorkerRun worker;
  int64_t maxDelay = 0;
  double spent = 0;
  for (auto _ : state) {
    for (int step = 0; step < 2; ++step) {
      TJOV window;
      window.Open(lib);
      QElapsedTimer clock;
      int64_t last = 0;
      QTimer timer;
      timer.setTimerType(Qt::PreciseTimer);
      QObject::connect(&timer, &QTimer::timeout, [&] {
        const int64_t now = clock.elapsed();
        maxDelay = std::max(maxDelay, now - last - 10);
        last = now;
      });
      clock.start();
      timer.start(10);
      const auto start = Clock::now();
      const TOutcome outcome =
          worker.Run(window, TRunTarget::Change, [&](TJOV* jov, TOperationDelegate* d) {
            return step == 0 ? insert.Run(*jov, picture, d) : remove.Run(*jov, d);
          });
      spent += Seconds(start);
      if (!outcome.Done()) state.SkipWithError("change failed");
    }
  }
  state.counters["max_delay_ms"] = double(maxDelay);
  state.counters["change_s"] = spent / double(state.iterations() * 2);
}
BENCHMARK(BM_EventDelayDuringChange_1GiB)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
