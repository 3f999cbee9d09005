#pragma once

// TPlacementNudge: the placement changes of the keys that move the image shown by a few
// pixels.  Each press moves the image at once; presses less than kQuietMs apart are
// written as one change of the library, when the keys rest or as soon as anything else
// needs the library (Flush), so that a held key does not write at every repeat.

#include <QObject>
#include <QPoint>
#include <QTimer>
#include <functional>
#include <optional>

class TPlacementNudge : public QObject {
  Q_OBJECT

 public:
  static constexpr int kQuietMs = 300;

  // write(index, x, y) writes one placement; it is given the last one of a burst.
  TPlacementNudge(std::function<void(int index, int x, int y)> write, QObject* parent);

  // A press on image index, whose stored placement is (storedX, storedY): moves it by
  // (dx, dy), each kept in 16 bits as the record stores it.
  void Move(int index, int storedX, int storedY, int dx, int dy);
  // The placement image index shows while its write waits.
  std::optional<QPoint> Pending(int index) const;
  // Writes what waits, now.
  void Flush();

 private:
  std::function<void(int, int, int)> write_;
  QTimer quiet_;
  int index_ = -1;
  QPoint placement_;
};
