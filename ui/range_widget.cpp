#include "ui/range_widget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <cmath>

RangeWidget::RangeWidget(QWidget* parent, const char* name) : QWidget(parent) {
  if (name != nullptr) setObjectName(QString::fromLatin1(name));
  setFixedHeight(kHeight);
  setMouseTracking(true);
}

QSize RangeWidget::sizeHint() const {
  return {200, kHeight};
}

void RangeWidget::setRange(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = std::max(minimum, maximum);
  value_ = bound(value_);
  update();
}

void RangeWidget::setValue(int value) {
  value_ = bound(value);
  update();
}

int RangeWidget::bound(long long v) const {
  return static_cast<int>(std::clamp<long long>(v, minimum_, maximum_));
}

int RangeWidget::track() const {
  return std::max(1, width() - 9);
}

int RangeWidget::thumbPosition() const {
  if (maximum_ == minimum_) return 0;
  return static_cast<int>(static_cast<double>(value_ - static_cast<long long>(minimum_)) /
                          (static_cast<double>(maximum_) - minimum_) * track());
}

int RangeWidget::valueAt(int x) const {
  const double offset = static_cast<double>(x - 4) / track() * (static_cast<double>(maximum_) - minimum_);
  // Clamped before the conversion: a press far outside must not overflow it.
  const double limited = std::clamp(std::trunc(offset), -4.0e9, 4.0e9);
  return bound(minimum_ + static_cast<long long>(limited));
}

void RangeWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  const int w = width();
  p.setPen(pal.color(QPalette::Dark));
  p.drawLine(3, 2, 3, 0);
  p.drawLine(3, 0, w - 6, 0);
  p.setPen(pal.color(QPalette::Light));
  p.drawLine(4, 2, w - 5, 2);
  p.drawLine(w - 5, 2, w - 5, 0);
  p.setPen(pal.color(QPalette::Shadow));
  p.drawLine(4, 1, w - 6, 1);

  const int e = thumbPosition();
  const QColor fill = !isEnabled() ? pal.color(QPalette::Window)
                      : hovered_   ? pal.color(QPalette::Light)
                                   : pal.color(QPalette::Midlight);
  const QPolygon thumb({QPoint(e + 4, 2), QPoint(e + 8, 6), QPoint(e + 8, 7), QPoint(e, 7), QPoint(e, 6)});
  p.setPen(fill);
  p.setBrush(fill);
  p.drawPolygon(thumb);
  if (isEnabled()) {
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(e + 4, 3, e + 1, 6);
    p.setPen(pal.color(QPalette::Dark));
    p.drawLine(e + 5, 4, e + 7, 6);
  }
}

void RangeWidget::mousePressEvent(QMouseEvent* event) {
  value_ = valueAt(event->position().toPoint().x());
  update();
  emit valueChanged(value_);
  dragging_ = true;
}

void RangeWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (dragging_) {
    const int v = valueAt(at.x());
    if (v != value_) {
      value_ = v;
      update();
      emit valueChanged(value_);
    }
    return;
  }
  const int e = thumbPosition();
  const bool over = at.x() >= e && at.x() <= e + 8 && at.y() >= 2 && at.y() <= 7;
  if (over != hovered_) {
    hovered_ = over;
    update();
  }
}

void RangeWidget::mouseReleaseEvent(QMouseEvent*) {
  dragging_ = false;
}

void RangeWidget::leaveEvent(QEvent*) {
  hovered_ = false;
  update();
}
