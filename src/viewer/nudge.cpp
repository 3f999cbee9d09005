#include "viewer/nudge.h"

#include <cstdint>

TPlacementNudge::TPlacementNudge(std::function<void(int, int, int)> write, QObject* parent)
    : QObject(parent), write_(std::move(write)) {
  quiet_.setSingleShot(true);
  quiet_.setInterval(kQuietMs);
  connect(&quiet_, &QTimer::timeout, this, &TPlacementNudge::Flush);
}

void TPlacementNudge::Move(int index, int storedX, int storedY, int dx, int dy) {
  if (index_ != index) {
    Flush();
    index_ = index;
    placement_ = QPoint(storedX, storedY);
  }
  placement_ = QPoint(int16_t(placement_.x() + dx), int16_t(placement_.y() + dy));
  quiet_.start();
}

std::optional<QPoint> TPlacementNudge::Pending(int index) const {
  if (index_ < 0 || index_ != index) return std::nullopt;
  return placement_;
}

void TPlacementNudge::Flush() {
  quiet_.stop();
  const int index = std::exchange(index_, -1);
  if (index >= 0) write_(index, placement_.x(), placement_.y());
}
