#pragma once

// TFramePacer: the pace of Play.  At "max" (0 frames a second) each frame is followed by
// one round of the window's events, so that images follow each other as fast as they are
// drawn; at a rate, frames are due at fixed times from the first one, and the wait for
// the next one handles events meanwhile.

#include <QElapsedTimer>
#include <cstdint>

class TFramePacer {
 public:
  // fps: 0 for "max", otherwise frames a second.
  explicit TFramePacer(int fps);
  // After a frame: handles events until the next frame is due, or at once when stop is
  // set meanwhile.  A frame that came too late starts the schedule again from now.
  void Wait(const bool& stop);

 private:
  int64_t period_;  // nanoseconds; 0 at "max"
  int64_t due_ = 0;
  QElapsedTimer clock_;
};
