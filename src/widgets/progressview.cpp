#include "widgets/progressview.h"

#include <QLabel>
#include <QProgressBar>
#include <cmath>
#include <limits>

namespace {

constexpr qint64 kRateAfterMs = 1000;

QString Clock(int64_t seconds) {
  const int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  if (h > 0) return QString::asprintf("%lld:%02lld:%02lld", (long long)h, (long long)m, (long long)s);
  return QString::asprintf("%lld:%02lld", (long long)m, (long long)s);
}

}  // namespace

TProgressView::TProgressView(QProgressBar* bar, QLabel* rate, QObject* parent)
    : QObject(parent), bar_(bar), rate_(rate) {
  if (rate_ != nullptr) rate_->hide();
}

void TProgressView::Start() {
  clock_.start();
  phaseTotal_ = -1;
  if (rate_ != nullptr) {
    rate_->clear();
    rate_->hide();
  }
}

void TProgressView::Stop() {
  if (rate_ != nullptr) rate_->hide();
}

QString TProgressView::RateText(double perSecond, bool bytes, int64_t secondsLeft) {
  const QString rate =
      bytes ? QString::asprintf("%.1f MiB/s", perSecond / (1024.0 * 1024.0))
      : perSecond < 10 ? QString::asprintf("%.1f images/s", perSecond)
                       : QStringLiteral("%1 images/s").arg(qRound64(perSecond));
  return QStringLiteral("%1, %2 left").arg(rate, Clock(secondsLeft));
}

void TProgressView::Show(int64_t done, int64_t total, bool bytes) {
  if (bar_ != nullptr) MoveBar(done, total);
  if (!clock_.isValid()) clock_.start();
  const qint64 now = clock_.elapsed();
  if (total != phaseTotal_ || bytes != phaseBytes_) {
    phaseTotal_ = total;
    phaseBytes_ = bytes;
    phaseDone_ = done;
    phaseStart_ = now;
  }
  const qint64 spent = now - phaseStart_;
  if (rate_ == nullptr || now < kRateAfterMs || spent <= 0 || done <= phaseDone_) return;
  const double perSecond = double(done - phaseDone_) * 1000.0 / double(spent);
  const int64_t left = int64_t(std::ceil(double(std::max<int64_t>(total - done, 0)) / perSecond));
  rate_->setText(RateText(perSecond, bytes, left));
  rate_->show();
}

void TProgressView::MoveBar(int64_t done, int64_t total) {
  // Counts past the bar's range (bytes of a large library) are scaled down.
  const int64_t scale = std::max<int64_t>(total, 0) / std::numeric_limits<int>::max() + 1;
  if (bar_->maximum() != total / scale) bar_->setRange(0, int(total / scale));
  bar_->show();
  bar_->setValue(int(done / scale));
}
