#pragma once

// TFlickerFreePaintBox: a paint box that composes every frame off screen and copies it
// in one block, without erasing its background first, so that stepping or playing
// through images never shows an empty box between two frames.

#include <QColor>
#include <QImage>
#include <QWidget>
#include <functional>

class QPainter;

class TFlickerFreePaintBox : public QWidget {
  Q_OBJECT

 public:
  explicit TFlickerFreePaintBox(QWidget* parent = nullptr);

  // The colour the off-screen bitmap starts from.
  QColor Color;
  // The paint event: draws into the canvas given, in the box's own coordinates.
  // Without one nothing is copied to the screen.
  std::function<void(TFlickerFreePaintBox* sender, QPainter& canvas)> OnPaint;
  // Asked after a paint event composed its frame: true keeps what the box shows instead
  // (the frame would show something that must not be seen).  Unset: every frame shows.
  std::function<bool()> KeepShown;

  // Composes the part rect of the box exactly as a paint does and returns it (the
  // whole box by default).  Tests and screenshots read the preview through this.
  QImage Compose(const QRect& rect = QRect());

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage buffer_;  // reused between frames
};
