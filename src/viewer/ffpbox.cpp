#include "viewer/ffpbox.h"

#include <QPaintEvent>
#include <QPainter>

TFlickerFreePaintBox::TFlickerFreePaintBox(QWidget* parent) : QWidget(parent) {
  // Every pixel is painted each time: the system need not clear anything first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  Color = palette().color(QPalette::Window);
}

QImage TFlickerFreePaintBox::Compose(const QRect& wanted) {
  const QRect rect = wanted.isNull() ? QRect(QPoint(0, 0), size()) : wanted;
  if (rect.isEmpty()) return QImage();
  // Only the part asked for is composed: a box zoomed to thousands of pixels is
  // mostly outside the visible area.  The canvas is shifted so that the paint event
  // still draws in the box's coordinates.
  if (buffer_.size() != rect.size()) buffer_ = QImage(rect.size(), QImage::Format_RGB32);
  buffer_.fill(Color);
  if (OnPaint) {
    QPainter canvas(&buffer_);
    canvas.setFont(font());
    canvas.setPen(QPen(Qt::black, 1));
    canvas.translate(-rect.topLeft());
    OnPaint(this, canvas);
  }
  return buffer_;
}

void TFlickerFreePaintBox::paintEvent(QPaintEvent* event) {
  if (!OnPaint) return;
  const QRect rect = event->rect();
  const QImage& frame = Compose(rect);
  if (frame.isNull() || (KeepShown && KeepShown())) return;
  QPainter screen(this);
  screen.drawImage(rect.topLeft(), frame);
}
