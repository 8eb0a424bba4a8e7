#include "imaging/zpath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "imaging/zsketcher.h"
#include "imaging/ztransform.h"

namespace {

using fx::PathTransform;
using fx::ZPath;
using fx::ZSegment;
using fx::ZSketcher;

struct Pt {
  double x, y;
};

// Records every line the base sketcher hands on.
class LineRecorder : public ZSketcher {
 public:
  void lineTo(float x, float y) override {
    lines.push_back({{currentX_, currentY_}, {x, y}});
    ZSketcher::lineTo(x, y);
  }
  std::vector<Pt> Ends() const {
    std::vector<Pt> ends;
    for (const auto& l : lines) ends.push_back(l.to);
    return ends;
  }
  struct Line {
    Pt from, to;
  };
  std::vector<Line> lines;
};

double DistanceToSegment(Pt p, Pt a, Pt b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0;
  t = std::fmax(0, std::fmin(1, t));
  return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

// Largest distance from the true curve (sampled densely) to the polyline
// start, ends...
double Deviation(const std::function<Pt(double)>& curve, Pt start, const std::vector<Pt>& ends) {
  double worst = 0;
  for (int i = 0; i <= 4000; ++i) {
    const Pt c = curve(i / 4000.0);
    double best = std::numeric_limits<double>::infinity();
    Pt from = start;
    for (const Pt& to : ends) {
      best = std::fmin(best, DistanceToSegment(c, from, to));
      from = to;
    }
    worst = std::fmax(worst, best);
  }
  return worst;
}

TEST(ZPath, ElementsCarryVerbsAndCurvePoints) {
  ZPath path;
  path.moveTo(1, 2);
  path.lineTo(3, 4);
  path.quadTo(5, 6, 7, 8);
  path.cubicTo(9, 10, 11, 12, 13, 14);
  path.arcTo(2, 3, 15, 16, true);
  path.close();
  path.moveTo(20, 21);
  path.lineTo(22, 23);
  path.close();

  struct E {
    float x, y;
    uint8_t verb;
  };
  const E expected[] = {{1, 2, 1}, {3, 4, 2},   {5, 6, 3}, {7, 8, 0},   {9, 10, 4},  {11, 12, 0}, {13, 14, 0},
                        {2, 3, 5}, {15, 16, 1}, {1, 2, 6}, {20, 21, 1}, {22, 23, 2}, {20, 21, 6}};
  ASSERT_EQ(path.size(), std::size(expected));
  for (std::size_t i = 0; i < path.size(); ++i) {
    EXPECT_EQ(path.elements()[i].x, expected[i].x) << i;
    EXPECT_EQ(path.elements()[i].y, expected[i].y) << i;
    EXPECT_EQ(path.elements()[i].verb, expected[i].verb) << i;
  }

  ZPath::Iterator it(path);
  ZSegment s;
  const uint8_t verbs[] = {1, 2, 3, 4, 5, 6, 1, 2, 6};
  for (uint8_t verb : verbs) {
    ASSERT_TRUE(it.Next(s));
    EXPECT_EQ(s.verb, verb);
    if (verb == fx::kZCubicTo) {
      EXPECT_EQ(s.points[4], 13);
      EXPECT_EQ(s.points[5], 14);
    }
    if (verb == fx::kZArcTo) {
      EXPECT_TRUE(s.clockwise);
      EXPECT_EQ(s.points[2], 15);
    }
  }
  EXPECT_FALSE(it.Next(s));

  path.clear();
  EXPECT_TRUE(path.empty());
  path.close();  // nothing to close
  EXPECT_TRUE(path.empty());
  path.lineTo(1, 1);
  path.close();  // a subpath without moveTo starts at the origin
  EXPECT_EQ(path.elements()[1].x, 0);
  EXPECT_EQ(path.elements()[1].verb, fx::kZClose);
}

TEST(ZSketcher, ReplayRunsEveryOperationAndClosesToTheSubpathStart) {
  ZPath path;
  path.lineTo(3, 4);  // before any moveTo: from the origin
  path.moveTo(1, 1);
  path.lineTo(2, 1);
  path.moveTo(5, 5);  // no close before it: the subpath goes on
  path.lineTo(6, 5);
  path.close();       // back to (1, 1)
  path.moveTo(8, 8);  // a new subpath
  path.lineTo(9, 8);
  path.close();
  LineRecorder r;
  r.moveTo(100, 100);  // left over from earlier use
  r.lineTo(101, 100);
  r.lines.clear();
  fx::Replay(path, r);
  struct L {
    double x0, y0, x1, y1;
  };
  const L expected[] = {{0, 0, 3, 4}, {1, 1, 2, 1}, {5, 5, 6, 5}, {6, 5, 1, 1}, {8, 8, 9, 8}, {9, 8, 8, 8}};
  ASSERT_EQ(r.lines.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(r.lines[i].from.x, expected[i].x0) << i;
    EXPECT_EQ(r.lines[i].from.y, expected[i].y0) << i;
    EXPECT_EQ(r.lines[i].to.x, expected[i].x1) << i;
    EXPECT_EQ(r.lines[i].to.y, expected[i].y1) << i;
  }
}

TEST(ZSketcher, QuadraticIsTwentyFourPointsOnTheCurve) {
  const Pt p0{2, 3}, p1{40, -25}, p2{70, 60};
  LineRecorder r;
  r.moveTo(p0.x, p0.y);
  r.quadTo(p1.x, p1.y, p2.x, p2.y);
  const std::vector<Pt> ends = r.Ends();
  ASSERT_EQ(ends.size(), 24u);
  auto curve = [&](double t) {
    const double u = 1 - t;
    return Pt{u * u * p0.x + 2 * u * t * p1.x + t * t * p2.x, u * u * p0.y + 2 * u * t * p1.y + t * t * p2.y};
  };
  for (int i = 1; i <= 24; ++i) {
    const Pt c = curve(i / 24.0);
    EXPECT_NEAR(ends[i - 1].x, c.x, 2e-4) << i;
    EXPECT_NEAR(ends[i - 1].y, c.y, 2e-4) << i;
  }
  EXPECT_EQ(ends.back().x, 70);
  EXPECT_EQ(ends.back().y, 60);
  // Chords of 24 equal steps stray at most |p0 - 2 p1 + p2| / (4 * 576).
  const double bound = std::hypot(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y) / (4 * 576.0);
  EXPECT_LE(Deviation(curve, p0, ends), bound + 1e-4);
}

TEST(ZSketcher, CubicIsTwentyFourPointsOnTheCurve) {
  const Pt p0{0, 0}, p1{10, 80}, p2{90, -40}, p3{100, 40};
  LineRecorder r;
  r.moveTo(p0.x, p0.y);
  r.cubicTo(p1.x, p1.y, p2.x, p2.y, p3.x, p3.y);
  const std::vector<Pt> ends = r.Ends();
  ASSERT_EQ(ends.size(), 24u);
  auto curve = [&](double t) {
    const double u = 1 - t;
    const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    return Pt{a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y};
  };
  for (int i = 1; i <= 24; ++i) {
    const Pt c = curve(i / 24.0);
    EXPECT_NEAR(ends[i - 1].x, c.x, 1e-3) << i;
    EXPECT_NEAR(ends[i - 1].y, c.y, 1e-3) << i;
  }
  EXPECT_EQ(ends.back().x, 100);
  EXPECT_EQ(ends.back().y, 40);
  // Chord error of a step: at most max |p''| h^2 / 8 with h = 1/24.
  double maxSecond = 0;
  for (double t : {0.0, 1.0}) {
    const double sx = 6 * (1 - t) * (p2.x - 2 * p1.x + p0.x) + 6 * t * (p3.x - 2 * p2.x + p1.x);
    const double sy = 6 * (1 - t) * (p2.y - 2 * p1.y + p0.y) + 6 * t * (p3.y - 2 * p2.y + p1.y);
    maxSecond = std::fmax(maxSecond, std::hypot(sx, sy));
  }
  EXPECT_LE(Deviation(curve, p0, ends), maxSecond / (8 * 576.0) + 1e-3);
}

TEST(ZSketcher, ArcsRunTheChosenWayOnTheEllipse) {
  struct Case {
    const char* name;
    Pt from;
    float rx, ry;
    Pt to;
    bool clockwise;
    Pt centre;     // expected
    double sweep;  // signed angle, radians
    double rx2, ry2;
  };
  const double pi = 3.14159265358979;
  const Case cases[] = {
      {"quarter, increasing angle", {10, 0}, 10, 10, {0, 10}, true, {0, 0}, pi / 2, 10, 10},
      {"quarter, decreasing angle", {10, 0}, 10, 10, {0, 10}, false, {10, 10}, -pi / 2, 10, 10},
      {"ellipse", {20, 0}, 20, 10, {0, 10}, true, {0, 0}, pi / 2, 20, 10},
      {"radii grown to reach", {0, 0}, 1, 1, {10, 0}, true, {5, 0}, pi, 5, 5},
      {"one radian", {10, 0}, 10, 10, {10 * std::cos(1.0), 10 * std::sin(1.0)}, true, {0, 0}, 1, 10, 10},
  };
  for (const Case& c : cases) {
    LineRecorder r;
    r.moveTo(c.from.x, c.from.y);
    r.arcTo(c.rx, c.ry, c.to.x, c.to.y, c.clockwise);
    const std::vector<Pt> ends = r.Ends();
    const int steps = static_cast<int>(std::ceil(std::fabs(c.sweep) / ZSketcher::kArcStep - 1e-4));
    EXPECT_NEAR(static_cast<double>(ends.size()), steps, 1) << c.name;
    EXPECT_EQ(ends.back().x, static_cast<float>(c.to.x)) << c.name;
    EXPECT_EQ(ends.back().y, static_cast<float>(c.to.y)) << c.name;
    double previous = std::atan2((c.from.y - c.centre.y) / c.ry2, (c.from.x - c.centre.x) / c.rx2);
    double turned = 0;
    for (const Pt& p : ends) {
      const double ex = (p.x - c.centre.x) / c.rx2, ey = (p.y - c.centre.y) / c.ry2;
      EXPECT_NEAR(std::hypot(ex, ey), 1, 1e-5) << c.name;
      double step = std::atan2(ey, ex) - previous;
      if (step > pi) step -= 2 * pi;
      if (step < -pi) step += 2 * pi;
      EXPECT_LE(std::fabs(step), ZSketcher::kArcStep + 1e-5) << c.name;
      EXPECT_GT(step * c.sweep, 0) << c.name;  // every step the chosen way
      turned += step;
      previous = std::atan2(ey, ex);
    }
    EXPECT_NEAR(turned, c.sweep, 1e-5) << c.name;
  }
}

TEST(ZSketcher, DegenerateArcsAreStraightLines) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    float rx, ry, x, y;
  };
  const Case cases[] = {{0, 5, 10, 0}, {5, 0, 10, 0}, {nan, 5, 10, 0}, {inf, 5, 10, 0}, {5, 5, 1, 2}};
  for (const Case& c : cases) {
    LineRecorder r;
    r.moveTo(1, 2);
    r.arcTo(c.rx, c.ry, c.x, c.y, true);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0].to.x, c.x);
    EXPECT_EQ(r.lines[0].to.y, c.y);
  }
  // An end point beyond every float after growing the radii still ends.
  LineRecorder r;
  r.moveTo(-3e38f, 0);
  r.arcTo(1, 1, 3e38f, 0, true);
  EXPECT_LE(r.lines.size(), 50u);
  EXPECT_EQ(r.lines.back().to.x, 3e38f);
}

TEST(ZSketcher, AdaptiveQuadraticStaysWithinTheFlatness) {
  const Pt p0{0, 0}, p1{30, 50}, p2{60, 0};
  LineRecorder r;
  r.moveTo(p0.x, p0.y);
  r.quadSegment(p0.x, p0.y, p1.x, p1.y, p2.x, p2.y);
  const std::vector<Pt> ends = r.Ends();
  auto curve = [&](double t) {
    const double u = 1 - t;
    return Pt{u * u * p0.x + 2 * u * t * p1.x + t * t * p2.x, u * u * p0.y + 2 * u * t * p1.y + t * t * p2.y};
  };
  EXPECT_GT(ends.size(), 8u);
  EXPECT_LE(Deviation(curve, p0, ends), std::sqrt(ZSketcher::kFlatness) / 2 + 1e-4);
  EXPECT_EQ(ends.back().x, 60);
  EXPECT_EQ(ends.back().y, 0);

  // Flat already (control on the chord, or within the tolerance): one line.
  for (const Pt c : {Pt{30, 0}, Pt{30, 0.1}, Pt{0, 0}}) {
    LineRecorder flat;
    flat.quadSegment(0, 0, c.x, c.y, 60, 0);
    EXPECT_EQ(flat.lines.size(), 1u);
  }
  // Inputs that never flatten stop at the deepest split.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const Pt c : {Pt{nan, 0}, Pt{3e38, -3e38}}) {
    LineRecorder wild;
    wild.quadSegment(0, 0, c.x, c.y, 1, 0);
    EXPECT_LE(wild.lines.size(), std::size_t{1} << ZSketcher::kMaxSplitDepth);
    EXPECT_EQ(wild.lines.back().to.x, 1);
  }
}

TEST(PathTransform, ComposesShearScaleRotationTranslationInThatOrder) {
  const float shx = 0.3f, shy = -0.2f, sx = 2, sy = 0.5f, rot = 0.7f, tx = 5, ty = -3;
  PathTransform t;
  t.SetShear(shx, shy);
  t.SetScale(sx, sy);
  t.SetRotation(rot);
  t.SetTranslation(tx, ty);
  for (const Pt p : {Pt{0, 0}, Pt{1, 0}, Pt{0, 1}, Pt{-3.5, 7.25}}) {
    // Shear, then scale, then rotate, then move.
    double x = p.x + std::tan(shx) * p.y, y = std::tan(shy) * p.x + p.y;
    x *= sx;
    y *= sy;
    const double rx = std::cos(rot) * x - std::sin(rot) * y, ry = std::sin(rot) * x + std::cos(rot) * y;
    float mx, my;
    t.Map(static_cast<float>(p.x), static_cast<float>(p.y), mx, my);
    EXPECT_NEAR(mx, rx + tx, 1e-5);
    EXPECT_NEAR(my, ry + ty, 1e-5);
  }
  // Components compose from scratch whatever order they were set in.
  PathTransform u;
  u.SetTranslation(tx, ty);
  u.SetRotation(rot);
  u.SetScale(sx, sy);
  u.SetShear(shx, shy);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(u.At(r, c), t.At(r, c));
}

TEST(PathTransform, IdentityAndSimpleMaps) {
  struct Case {
    const char* name;
    std::function<void(PathTransform&)> set;
    Pt in, out;
  };
  const Case cases[] = {
      {"identity", [](PathTransform&) {}, {3, -4}, {3, -4}},
      {"translate", [](PathTransform& t) { t.SetTranslation(1.5f, -2); }, {3, 4}, {4.5, 2}},
      {"scale", [](PathTransform& t) { t.SetScale(2, -3); }, {3, 4}, {6, -12}},
      {"quarter turn (y down: x axis to y axis)",
       [](PathTransform& t) { t.SetRotation(1.5707964f); },
       {1, 0},
       {0, 1}},
      {"shear x", [](PathTransform& t) { t.SetShear(0.7853982f, 0); }, {0, 2}, {2, 2}},
      {"back to identity",
       [](PathTransform& t) {
         t.SetScale(5, 5);
         t.SetScale(1, 1);
       },
       {3, 4},
       {3, 4}},
  };
  for (const Case& c : cases) {
    PathTransform t;
    c.set(t);
    float x, y;
    t.Map(static_cast<float>(c.in.x), static_cast<float>(c.in.y), x, y);
    EXPECT_NEAR(x, c.out.x, 1e-6) << c.name;
    EXPECT_NEAR(y, c.out.y, 1e-6) << c.name;
  }
}

TEST(PathTransform, InvertUndoesTheMapAndSingularBecomesIdentity) {
  PathTransform t;
  t.SetShear(0.1f, 0.2f);
  t.SetScale(3, 0.25f);
  t.SetRotation(-1.1f);
  t.SetTranslation(40, -7);
  PathTransform inverse = t;
  inverse.Invert();
  for (const Pt p : {Pt{0, 0}, Pt{10, -20}, Pt{-3, 5}}) {
    float x, y, bx, by;
    t.Map(static_cast<float>(p.x), static_cast<float>(p.y), x, y);
    inverse.Map(x, y, bx, by);
    EXPECT_NEAR(bx, p.x, 1e-4);
    EXPECT_NEAR(by, p.y, 1e-4);
  }
  // Setting a component rebuilds the forward matrix.
  inverse.SetTranslation(40, -7);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(inverse.At(r, c), t.At(r, c));

  for (float scale : {0.0f, std::numeric_limits<float>::infinity()}) {
    PathTransform singular;
    singular.SetScale(scale, 2);
    singular.SetTranslation(4, 5);
    singular.Invert();
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) EXPECT_EQ(singular.At(r, c), r == c ? 1.0f : 0.0f) << scale;
  }
}

}  // namespace
