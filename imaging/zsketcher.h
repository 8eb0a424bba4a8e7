// The consumer a path is replayed into. ZSketcher keeps the current point
// and the subpath start and flattens every curve into lineTo calls, so a
// derived consumer only has to handle straight lines.
#pragma once

#include "imaging/zpath.h"

namespace fx {

class ZSketcher {
 public:
  // Flattening steps of quadTo and cubicTo.
  static constexpr int kCurveSteps = 24;
  // Arc step: 1/96 of a turn, and the full turn an end angle is moved by.
  static constexpr float kArcStep = 0.06544985f;
  static constexpr float kFullTurn = 6.2831855f;
  // quadSegment stops splitting when the control point's squared distance
  // from the chord is at most this: the curve then strays at most 1/16 from
  // its chord (half the control point's distance).
  static constexpr float kFlatness = 1.0f / 64;
  // Deepest split of quadSegment (at most 2^16 lines), so that no input can
  // recurse without end.
  static constexpr int kMaxSplitDepth = 16;

  ZSketcher() = default;
  virtual ~ZSketcher();
  ZSketcher(const ZSketcher&) = delete;
  ZSketcher& operator=(const ZSketcher&) = delete;

  // The next moveTo starts a subpath; drawing before any moveTo starts at
  // the origin, never at a point left over from an earlier replay.
  virtual void begin();
  // Remembers (x, y) as the subpath start when a subpath starts; always
  // sets the current point.
  virtual void moveTo(float x, float y);
  virtual void lineTo(float x, float y);
  virtual void cubicTo(float x1, float y1, float x2, float y2, float x3, float y3);
  virtual void quadTo(float x1, float y1, float x2, float y2);
  // Elliptical arc (axes along x and y) from the current point to (x, y):
  // of the two ellipses with these radii through both points, the one on
  // which the arc in the chosen direction is the shorter; radii too small
  // to reach are grown until they do. Clockwise as seen on an image whose y
  // axis points down (increasing angle). Radii that are not positive and
  // finite give a straight line.
  virtual void arcTo(float rx, float ry, float x, float y, bool clockwise);
  // lineTo(subpath start); the next moveTo starts a new subpath.
  virtual void close();
  // Adaptive flattening of one quadratic segment from (x0, y0), normally the
  // current point: split at the parameter midpoint until flat, then lineTo
  // the end of each piece.
  virtual void quadSegment(float x0, float y0, float cx, float cy, float x1, float y1);

  float CurrentX() const { return currentX_; }
  float CurrentY() const { return currentY_; }
  float StartX() const { return startX_; }
  float StartY() const { return startY_; }

 protected:
  void SplitQuad(const float p[6], int depth);

  float currentX_ = 0;
  float currentY_ = 0;
  float startX_ = 0;
  float startY_ = 0;
  bool startPending_ = true;
};

// Calls consumer.begin(), then the consumer operation of every element.
void Replay(const ZPath& path, ZSketcher& consumer);

}  // namespace fx
