#pragma once

// What a run's reports look like in a window: a bar moved to the worker's current step,
// and, once the run has taken more than a second, its rate and the time left beside it
// ("123 images/s, 0:12 left", or MiB/s when the run counts bytes).

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>

class QLabel;
class QProgressBar;

class TProgressView : public QObject {
  Q_OBJECT

 public:
  // Either may be null.  The bar and the label are hidden until there is something to show.
  TProgressView(QProgressBar* bar, QLabel* rate, QObject* parent = nullptr);

  // A run begins: the clock starts.
  void Start();
  // A report: done of total, counted in bytes when bytes.
  void Show(int64_t done, int64_t total, bool bytes);
  // The run has ended: the rate goes; the bar stays as it is.
  void Stop();

  // "123 images/s, 0:12 left", "3.5 MiB/s, 1:02:03 left".
  static QString RateText(double perSecond, bool bytes, int64_t secondsLeft);

 private:
  void MoveBar(int64_t done, int64_t total);

  QProgressBar* bar_;
  QLabel* rate_;
  QElapsedTimer clock_;
  // Where the current phase (a total and a unit) began: its rate is measured from there.
  int64_t phaseTotal_ = -1;
  bool phaseBytes_ = false;
  int64_t phaseDone_ = 0;
  qint64 phaseStart_ = 0;
};
