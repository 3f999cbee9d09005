#include "viewer/framepacer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

namespace {

// The longest single wait: Stop is heard within it.
constexpr int64_t kSliceMs = 20;

}  // namespace

TFramePacer::TFramePacer(int fps) : period_(fps > 0 ? 1'000'000'000 / fps : 0) {
  clock_.start();
}

void TFramePacer::Wait(const bool& stop) {
  if (period_ == 0) {
    QCoreApplication::processEvents();
    return;
  }
  const int64_t now = clock_.nsecsElapsed();
  due_ += period_;
  if (due_ < now) due_ = now;
  for (;;) {
    QCoreApplication::processEvents();
    const int64_t left = due_ - clock_.nsecsElapsed();
    if (left <= 0 || stop) return;
    // Whole milliseconds on a precise timer, the last fraction handling events.
    const int ms = int(std::min<int64_t>(left / 1'000'000, kSliceMs));
    if (ms == 0) continue;
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
  }
}
