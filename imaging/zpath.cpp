#include "imaging/zpath.h"

namespace fx {

ZPath::ZPath() {
  elements_.reserve(16);
}

ZPath::~ZPath() = default;

void ZPath::moveTo(float x, float y) {
  // Like the sketchers that replay it: only the first moveTo after the start
  // or a close begins a subpath.
  if (startPending_) {
    startX_ = x;
    startY_ = y;
    startPending_ = false;
  }
  Append(x, y, kZMoveTo);
}

void ZPath::lineTo(float x, float y) {
  Append(x, y, kZLineTo);
}

void ZPath::quadTo(float x1, float y1, float x2, float y2) {
  Append(x1, y1, kZQuadTo);
  Append(x2, y2, kZContinue);
}

void ZPath::cubicTo(float x1, float y1, float x2, float y2, float x3, float y3) {
  Append(x1, y1, kZCubicTo);
  Append(x2, y2, kZContinue);
  Append(x3, y3, kZContinue);
}

void ZPath::arcTo(float rx, float ry, float x, float y, bool clockwise) {
  Append(rx, ry, kZArcTo);
  Append(x, y, clockwise ? 1 : 0);
}

void ZPath::close() {
  if (elements_.empty()) return;
  Append(startX_, startY_, kZClose);
  startPending_ = true;
}

void ZPath::clear() {
  elements_.clear();
  startX_ = startY_ = 0;
  startPending_ = true;
}

bool ZPath::Iterator::Next(ZSegment& segment) {
  const std::vector<ZPathElement>& e = path_.elements_;
  if (index_ >= e.size()) return false;
  const uint8_t verb = e[index_].verb;
  std::size_t count = 0;
  switch (verb) {
    case kZMoveTo:
    case kZLineTo:
    case kZClose:
      count = 1;
      break;
    case kZQuadTo:
    case kZArcTo:
      count = 2;
      break;
    case kZCubicTo:
      count = 3;
      break;
    default:
      index_ = e.size();
      return false;
  }
  if (e.size() - index_ < count) {
    index_ = e.size();
    return false;
  }
  segment = ZSegment{};
  segment.verb = verb;
  for (std::size_t i = 0; i < count; ++i) {
    segment.points[2 * i] = e[index_ + i].x;
    segment.points[2 * i + 1] = e[index_ + i].y;
  }
  if (verb == kZArcTo) segment.clockwise = e[index_ + 1].verb != 0;
  index_ += count;
  return true;
}

}  // namespace fx
