// The slim slider of range parameters: a groove and an arrow-shaped thumb
// over an integer range.
#pragma once

#include <QWidget>

class RangeWidget : public QWidget {
  Q_OBJECT

 public:
  explicit RangeWidget(QWidget* parent = nullptr, const char* name = nullptr);

  int minValue() const { return minimum_; }
  int maxValue() const { return maximum_; }
  int value() const { return value_; }
  // The value is kept within the range; a maximum below the minimum is raised to it.
  void setRange(int minimum, int maximum);
  // Sets the value without emitting valueChanged and repaints.
  void setValue(int value);

  bool dragging() const { return dragging_; }
  bool thumbHovered() const { return hovered_; }
  // Left edge of the thumb in widget pixels.
  int thumbPosition() const;

  QSize sizeHint() const override;

 signals:
  void valueChanged(int value);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  static constexpr int kHeight = 9;
  int bound(long long v) const;
  // The value under widget column x.
  int valueAt(int x) const;
  // The track spans width - 9 pixels from x = 4 (at least one).
  int track() const;

  int minimum_ = 0;
  int maximum_ = 99;
  int value_ = 0;
  bool dragging_ = false;
  bool hovered_ = false;
};
