#include "imaging/zsketcher.h"

#include <cmath>

namespace fx {

namespace {

// Saturates instead of converting an out-of-range double, which a float
// cannot hold: a huge arc becomes infinite points that the renderer refuses.
float ToFloat(double v) {
  constexpr double kMax = 3.4028234663852886e38;
  if (v > kMax) return HUGE_VALF;
  if (v < -kMax) return -HUGE_VALF;
  return static_cast<float>(v);
}

}  // namespace

ZSketcher::~ZSketcher() = default;

void ZSketcher::begin() {
  currentX_ = currentY_ = 0;
  startX_ = startY_ = 0;
  startPending_ = true;
}

void ZSketcher::moveTo(float x, float y) {
  if (startPending_) {
    startX_ = x;
    startY_ = y;
    startPending_ = false;
  }
  currentX_ = x;
  currentY_ = y;
}

void ZSketcher::lineTo(float x, float y) {
  currentX_ = x;
  currentY_ = y;
}

// Forward differencing over 24 equal parameter steps; the last step goes to
// the end point itself so that rounding never leaves a gap.
void ZSketcher::cubicTo(float x1, float y1, float x2, float y2, float x3, float y3) {
  constexpr float h = 1.0f / kCurveSteps;
  constexpr float h2 = h * h;
  constexpr float h3 = h2 * h;
  const float x0 = currentX_;
  const float y0 = currentY_;
  // p(t) = p0 + a t + b t^2 + c t^3
  const float ax = 3 * (x1 - x0), ay = 3 * (y1 - y0);
  const float bx = 3 * (x0 - 2 * x1 + x2), by = 3 * (y0 - 2 * y1 + y2);
  const float cx = x3 - x0 + 3 * (x1 - x2), cy = y3 - y0 + 3 * (y1 - y2);
  float dx = ax * h + bx * h2 + cx * h3, dy = ay * h + by * h2 + cy * h3;
  float ddx = 2 * bx * h2 + 6 * cx * h3, ddy = 2 * by * h2 + 6 * cy * h3;
  const float dddx = 6 * cx * h3, dddy = 6 * cy * h3;
  float x = x0, y = y0;
  for (int i = 1; i < kCurveSteps; ++i) {
    x += dx;
    y += dy;
    dx += ddx;
    dy += ddy;
    ddx += dddx;
    ddy += dddy;
    lineTo(x, y);
  }
  lineTo(x3, y3);
}

void ZSketcher::quadTo(float x1, float y1, float x2, float y2) {
  const float x0 = currentX_;
  const float y0 = currentY_;
  const float ax = x0 - 2 * x1 + x2, ay = y0 - 2 * y1 + y2;
  const float ddx = ax * 2 / 576, ddy = ay * 2 / 576;
  float dx = ax / 576 + (x1 - x0) * 0.083333336f;
  float dy = ay / 576 + (y1 - y0) * 0.083333336f;
  float x = x0, y = y0;
  for (int i = 1; i < kCurveSteps; ++i) {
    x += dx;
    y += dy;
    dx += ddx;
    dy += ddy;
    lineTo(x, y);
  }
  lineTo(x2, y2);
}

void ZSketcher::arcTo(float rx, float ry, float x, float y, bool clockwise) {
  const double x0 = currentX_, y0 = currentY_;
  double a = std::fabs(static_cast<double>(rx)), b = std::fabs(static_cast<double>(ry));
  if (!(a > 0 && b > 0) || !std::isfinite(a) || !std::isfinite(b) || !std::isfinite(x0) ||
      !std::isfinite(y0) || !std::isfinite(x) || !std::isfinite(y) || (x0 == x && y0 == y)) {
    lineTo(x, y);
    return;
  }
  // On the unit circle after dividing by the radii, the centre lies on the
  // chord's bisector, on the left of the chord (y up) for an increasing
  // angle along the shorter arc.
  double ux0 = x0 / a, uy0 = y0 / b, ux1 = x / a, uy1 = y / b;
  double dx = ux1 - ux0, dy = uy1 - uy0;
  double chord = std::hypot(dx, dy);
  if (chord > 2) {
    // Too small to reach: grow both radii until the chord is a diameter.
    const double grow = chord / 2;
    a *= grow;
    b *= grow;
    ux0 /= grow, uy0 /= grow, ux1 /= grow, uy1 /= grow;
    dx /= grow, dy /= grow;
    chord = 2;
  }
  if (!std::isfinite(chord) || chord == 0) {
    lineTo(x, y);
    return;
  }
  const double offset = std::sqrt(std::fmax(0.0, 1 - chord * chord / 4));
  const double side = clockwise ? 1 : -1;
  const double ucx = (ux0 + ux1) / 2 - side * offset * dy / chord;
  const double ucy = (uy0 + uy1) / 2 + side * offset * dx / chord;
  const float centreX = ToFloat(ucx * a);
  const float centreY = ToFloat(ucy * b);
  const float radiusX = ToFloat(a);
  const float radiusY = ToFloat(b);
  const float start = static_cast<float>(std::atan2(uy0 - ucy, ux0 - ucx));
  float end = static_cast<float>(std::atan2(uy1 - ucy, ux1 - ucx));
  if (clockwise && end < start) end += kFullTurn;
  if (!clockwise && end > start) end -= kFullTurn;
  const float step = clockwise ? kArcStep : -kArcStep;
  for (int i = 1;; ++i) {
    const float angle = start + static_cast<float>(i) * step;
    if (clockwise ? angle >= end : angle <= end) break;
    lineTo(centreX + radiusX * std::cos(angle), centreY + radiusY * std::sin(angle));
  }
  lineTo(x, y);
}

void ZSketcher::close() {
  lineTo(startX_, startY_);
  startPending_ = true;
}

void ZSketcher::quadSegment(float x0, float y0, float cx, float cy, float x1, float y1) {
  const float p[6] = {x0, y0, cx, cy, x1, y1};
  SplitQuad(p, 0);
}

void ZSketcher::SplitQuad(const float p[6], int depth) {
  const float chordX = p[4] - p[0], chordY = p[5] - p[1];
  const float toControlX = p[2] - p[0], toControlY = p[3] - p[1];
  const float chord2 = chordX * chordX + chordY * chordY;
  float distance2;
  if (chord2 > 0) {
    const float cross = chordX * toControlY - chordY * toControlX;
    distance2 = cross * cross / chord2;
  } else {
    distance2 = toControlX * toControlX + toControlY * toControlY;
  }
  // NaN fails the second test and ends here too: the line carries it on.
  if (depth >= kMaxSplitDepth || !(distance2 > kFlatness)) {
    lineTo(p[4], p[5]);
    return;
  }
  auto split = [](const float q[6], float first[6], float second[6]) {
    const float ax = (q[0] + q[2]) / 2, ay = (q[1] + q[3]) / 2;
    const float bx = (q[2] + q[4]) / 2, by = (q[3] + q[5]) / 2;
    const float mx = (ax + bx) / 2, my = (ay + by) / 2;
    const float f[6] = {q[0], q[1], ax, ay, mx, my};
    const float s[6] = {mx, my, bx, by, q[4], q[5]};
    for (int i = 0; i < 6; ++i) {
      first[i] = f[i];
      second[i] = s[i];
    }
  };
  float first[6], second[6];
  split(p, first, second);
  SplitQuad(first, depth + 1);
  SplitQuad(second, depth + 1);
}

void Replay(const ZPath& path, ZSketcher& consumer) {
  consumer.begin();
  ZPath::Iterator it(path);
  ZSegment s;
  while (it.Next(s)) {
    const float* p = s.points;
    switch (s.verb) {
      case kZMoveTo:
        consumer.moveTo(p[0], p[1]);
        break;
      case kZLineTo:
        consumer.lineTo(p[0], p[1]);
        break;
      case kZQuadTo:
        consumer.quadTo(p[0], p[1], p[2], p[3]);
        break;
      case kZCubicTo:
        consumer.cubicTo(p[0], p[1], p[2], p[3], p[4], p[5]);
        break;
      case kZArcTo:
        consumer.arcTo(p[0], p[1], p[2], p[3], s.clockwise);
        break;
      case kZClose:
        consumer.close();
        break;
      default:
        return;
    }
  }
}

}  // namespace fx
