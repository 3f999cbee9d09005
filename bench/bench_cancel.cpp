// Ctrl+C during jovtool's insert at 0 of a 1 GiB library: the time from the signal to the
// command's exit, rollback included ("exit_ms"), and how many runs exited 130.
// JOV_BENCH_DIR picks the file system; JOV_BENCH_MIB scales the library (default 1024).

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "support/biglibrary.h"
#include "support/spawn.h"

namespace {

using Clock = std::chrono::steady_clock;

QTemporaryDir& Dir() {
  return BenchFolder(QStringLiteral("jovcancel"));
}

void BM_CtrlCDuringInsertAt0(benchmark::State& state) {
  const int mib = qEnvironmentVariableIntValue("JOV_BENCH_MIB") > 0
                      ? qEnvironmentVariableIntValue("JOV_BENCH_MIB")
                      : 1024;
  const QString lib = BigLibrary(Dir().path(), "big", mib * 4, 512);
  const QString picture = Dir().filePath("one.bmp");
  if (!QFile::exists(picture) && Wait(Spawn(JOVTOOL_PATH, {"export-one", lib, "0", picture})) != 0)
    state.SkipWithError("export-one");
  double exitSeconds = 0;
  int cancelled = 0;
  for (auto _ : state) {
    const pid_t pid = Spawn(JOVTOOL_PATH, {"add", lib, picture, "--insert-at", "0", "--quiet"});
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // well into the copy
    const auto t0 = Clock::now();
    ::kill(pid, SIGINT);
    const int status = Wait(pid);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    state.SetIterationTime(seconds);
    exitSeconds += seconds;
    cancelled += WIFEXITED(status) && WEXITSTATUS(status) == 130;
  }
  state.counters["exit_ms"] = exitSeconds * 1000 / double(state.iterations());
  state.counters["cancelled"] = cancelled;
}
BENCHMARK(BM_CtrlCDuringInsertAt0)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace
