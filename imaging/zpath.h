// Vector paths: a flat array of elements {x, y, verb} that records lines and
// curves in the order they were drawn, and an iterator that hands them back
// one drawing operation at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fx {

// The verb of an element. A curve's further points follow its first element
// as continuation elements; the iterator never reads their byte as a verb.
enum ZVerb : uint8_t {
  kZContinue = 0,
  kZMoveTo = 1,
  kZLineTo = 2,
  kZQuadTo = 3,   // control point, end point
  kZCubicTo = 4,  // two control points, end point
  kZArcTo = 5,    // radii (rx, ry), end point whose byte is 1 for clockwise
  kZClose = 6,    // carries the subpath's start point
};

struct ZPathElement {
  float x = 0;
  float y = 0;
  uint8_t verb = kZContinue;
};

// One drawing operation as the iterator hands it out; points holds x, y
// pairs in the order of the operation's arguments.
struct ZSegment {
  uint8_t verb = kZContinue;
  bool clockwise = false;  // arcs only
  float points[6] = {};
};

class ZPath {
 public:
  ZPath();
  virtual ~ZPath();
  ZPath(const ZPath&) = default;
  ZPath& operator=(const ZPath&) = default;

  void moveTo(float x, float y);
  void lineTo(float x, float y);
  void quadTo(float x1, float y1, float x2, float y2);
  void cubicTo(float x1, float y1, float x2, float y2, float x3, float y3);
  // Elliptical arc from the current point to (x, y); clockwise as seen on an
  // image whose y axis points down.
  void arcTo(float rx, float ry, float x, float y, bool clockwise);
  // Ends the subpath; the element carries the subpath's start point. Nothing
  // is appended to an empty path.
  void close();
  // Forgets every element; the storage is kept.
  void clear();

  bool empty() const { return elements_.empty(); }
  std::size_t size() const { return elements_.size(); }
  const ZPathElement* elements() const { return elements_.data(); }

  class Iterator {
   public:
    explicit Iterator(const ZPath& path) : path_(path) {}
    // The next operation, false at the end. A verb it does not know, or a
    // curve whose points are cut off, ends the walk.
    bool Next(ZSegment& segment);

   private:
    const ZPath& path_;
    std::size_t index_ = 0;
  };

 private:
  void Append(float x, float y, uint8_t verb) { elements_.push_back({x, y, verb}); }

  std::vector<ZPathElement> elements_;
  float startX_ = 0;
  float startY_ = 0;
  bool startPending_ = true;
};

}  // namespace fx
