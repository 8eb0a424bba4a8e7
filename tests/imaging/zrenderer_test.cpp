#include "imaging/zrenderer.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <vector>

#include "imaging/raster.h"
#include "imaging/zpath.h"
#include "imaging/zstencil.h"
#include "imaging/ztransform.h"

namespace {

using fx::PathTransform;
using fx::Raster;
using fx::RasterRef;
using fx::ZColorStencil;
using fx::ZFillRule;
using fx::ZPath;
using fx::ZRenderer;
using fx::ZStencil;

using Grid = std::vector<std::vector<int>>;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct Pt {
  float x, y;
};

// A one-channel raster of the given depth with every sample at value.
RasterRef Plane(int w, int h, uint32_t bytes, int value = 0) {
  RasterRef r = fx::MakeRaster(w, h, 1, bytes);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (bytes == 1)
        r->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(value);
      else
        r->RowAs<uint16_t>(y)[x] = static_cast<uint16_t>(value);
    }
  return r;
}

Grid Read(const Raster& r) {
  Grid g(r.Height(), std::vector<int>(r.Width()));
  for (int y = 0; y < r.Height(); ++y)
    for (int x = 0; x < r.Width(); ++x)
      g[y][x] = r.Is16Bit() ? r.RowAs<uint16_t>(y)[x] : r.RowAs<uint8_t>(y)[x];
  return g;
}

void AddPolygon(ZPath& path, std::initializer_list<Pt> points, bool close = true) {
  bool first = true;
  for (const Pt& p : points) {
    if (first)
      path.moveTo(p.x, p.y);
    else
      path.lineTo(p.x, p.y);
    first = false;
  }
  if (close) path.close();
}

// Clockwise on the image (y down) unless reversed.
void AddRect(ZPath& path, float x0, float y0, float x1, float y1, bool reversed = false) {
  if (reversed)
    AddPolygon(path, {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}});
  else
    AddPolygon(path, {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}});
}

ZPath RectPath(float x0, float y0, float x1, float y1, bool reversed = false) {
  ZPath p;
  AddRect(p, x0, y0, x1, y1, reversed);
  return p;
}

Grid Render(int w, int h, const ZPath& path, ZFillRule rule = ZFillRule::kNonZero,
            const PathTransform* transform = nullptr, uint32_t bytes = 1) {
  RasterRef r = Plane(w, h, bytes);
  ZStencil stencil(*r);
  ZRenderer renderer;
  renderer.Render(path, transform, stencil, rule);
  return Read(*r);
}

// Every pixel of a w x h grid from a function of its position.
Grid Expect(int w, int h, const std::function<int(int, int)>& value) {
  Grid g(h, std::vector<int>(w));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) g[y][x] = value(x, y);
  return g;
}

int64_t Sum(const Grid& g) {
  int64_t s = 0;
  for (const auto& row : g)
    for (int v : row) s += v;
  return s;
}

TEST(ZRenderer, SquareOnPixelEdgesFillsExactlyItsFourPixels) {
  for (uint32_t bytes : {1u, 2u}) {
    const int full = bytes == 1 ? 255 : 32768;
    const Grid expected =
        Expect(5, 5, [&](int x, int y) { return x >= 1 && x < 3 && y >= 1 && y < 3 ? full : 0; });
    for (bool reversed : {false, true})
      for (ZFillRule rule : {ZFillRule::kNonZero, ZFillRule::kEvenOdd})
        EXPECT_EQ(Render(5, 5, RectPath(1, 1, 3, 3, reversed), rule, nullptr, bytes), expected)
            << bytes << " " << reversed << " " << static_cast<int>(rule);
  }
}

TEST(ZRenderer, PartlyCoveredColumnsAndRows) {
  struct Case {
    const char* name;
    float x0, y0, x1, y1;
    Grid expected;  // 5 x 3
  };
  const Case cases[] = {
      // 8 crossings at position 128: 8 * 127 * 32 / 255.
      {"edge at x = 1.5, shape on the right",
       1.5f,
       0,
       4,
       3,
       {{0, 127, 255, 255, 0}, {0, 127, 255, 255, 0}, {0, 127, 255, 255, 0}}},
      // The winding entering (256) less the same crossings.
      {"edge at x = 1.5, shape on the left",
       0,
       0,
       1.5f,
       3,
       {{255, 129, 0, 0, 0}, {255, 129, 0, 0, 0}, {255, 129, 0, 0, 0}}},
      {"edge at x = 1.25",
       1.25f,
       0,
       4,
       3,
       {{0, 191, 255, 255, 0}, {0, 191, 255, 255, 0}, {0, 191, 255, 255, 0}}},
      {"edge at x = 3.75 on the right",
       1,
       0,
       3.75f,
       3,
       {{0, 255, 255, 193, 0}, {0, 255, 255, 193, 0}, {0, 255, 255, 193, 0}}},
      // Four of eight sub-scanlines: 4 * 32.
      {"edge at y = 1.5",
       0,
       1.5f,
       5,
       3,
       {{0, 0, 0, 0, 0}, {128, 128, 128, 128, 128}, {255, 255, 255, 255, 255}}},
      {"quarter of a pixel", 1.5f, 1.5f, 3, 3, {{0, 0, 0, 0, 0}, {0, 63, 128, 0, 0}, {0, 127, 255, 0, 0}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Render(5, 3, RectPath(c.x0, c.y0, c.x1, c.y1)), c.expected) << c.name;
    EXPECT_EQ(Render(5, 3, RectPath(c.x0, c.y0, c.x1, c.y1, true), ZFillRule::kEvenOdd), c.expected)
        << c.name;
  }
}

TEST(ZRenderer, DiagonalEdgeHalvesThePixelsItCrosses) {
  // Each sub-scanline is crossed at its centre: positions 16, 48, ... 240
  // in the pixel on the diagonal, 8 * 127.5 levels in all.
  ZPath upperRight;
  AddPolygon(upperRight, {{0, 0}, {8, 0}, {8, 8}});
  EXPECT_EQ(Render(9, 8, upperRight), Expect(9, 8, [](int x, int y) {
              return x == y ? 127 : x > y && x < 8 ? 255 : 0;
            }));
}

TEST(ZRenderer, NonZeroAndEvenOddWinding) {
  struct Case {
    const char* name;
    std::function<void(ZPath&)> build;
    std::function<int(int, int)> nonZero, evenOdd;
  };
  auto in = [](int x, int y, int a, int b) { return x >= a && x < b && y >= a && y < b; };
  const Case cases[] = {
      {"the same square both ways",
       [](ZPath& p) {
         AddRect(p, 1, 1, 7, 7);
         AddRect(p, 1, 1, 7, 7, true);
       },
       [](int, int) { return 0; }, [](int, int) { return 0; }},
      {"the same square twice",
       [](ZPath& p) {
         AddRect(p, 1, 1, 7, 7);
         AddRect(p, 1, 1, 7, 7);
       },
       [&](int x, int y) { return in(x, y, 1, 7) ? 255 : 0; }, [](int, int) { return 0; }},
      {"a square inside a square, same way",
       [](ZPath& p) {
         AddRect(p, 1, 1, 7, 7);
         AddRect(p, 3, 3, 5, 5);
       },
       [&](int x, int y) { return in(x, y, 1, 7) ? 255 : 0; },
       [&](int x, int y) { return in(x, y, 1, 7) && !in(x, y, 3, 5) ? 255 : 0; }},
      {"a square inside a square, reversed",
       [](ZPath& p) {
         AddRect(p, 1, 1, 7, 7);
         AddRect(p, 3, 3, 5, 5, true);
       },
       [&](int x, int y) { return in(x, y, 1, 7) && !in(x, y, 3, 5) ? 255 : 0; },
       [&](int x, int y) { return in(x, y, 1, 7) && !in(x, y, 3, 5) ? 255 : 0; }},
      {"one outline running round twice",
       [](ZPath& p) {
         AddPolygon(p, {{1, 1}, {7, 1}, {7, 7}, {1, 7}, {1, 1}, {7, 1}, {7, 7}, {1, 7}});
       },
       [&](int x, int y) { return in(x, y, 1, 7) ? 255 : 0; }, [](int, int) { return 0; }},
  };
  for (const Case& c : cases) {
    ZPath p;
    c.build(p);
    EXPECT_EQ(Render(8, 8, p, ZFillRule::kNonZero), Expect(8, 8, c.nonZero)) << c.name;
    EXPECT_EQ(Render(8, 8, p, ZFillRule::kEvenOdd), Expect(8, 8, c.evenOdd)) << c.name;
  }

  // A pentagram crosses itself: its centre winds twice.
  ZPath star;
  const double pi = 3.14159265358979;
  for (int i = 0; i < 5; ++i) {
    const double a = -pi / 2 + i * 4 * pi / 5;
    const float x = static_cast<float>(24 + 20 * std::cos(a)), y = static_cast<float>(24 + 20 * std::sin(a));
    if (i == 0)
      star.moveTo(x, y);
    else
      star.lineTo(x, y);
  }
  star.close();
  const Grid nonZero = Render(48, 48, star, ZFillRule::kNonZero);
  const Grid evenOdd = Render(48, 48, star, ZFillRule::kEvenOdd);
  EXPECT_EQ(nonZero[24][24], 255);
  EXPECT_EQ(evenOdd[24][24], 0);
  EXPECT_EQ(nonZero[8][24], 255);  // inside the top point: wound once
  EXPECT_EQ(evenOdd[8][24], 255);
  EXPECT_EQ(nonZero[2][2], 0);
}

TEST(ZRenderer, OrientationNeverChangesTheCoverage) {
  ZPath forward, backward;
  AddPolygon(forward, {{1.3f, 1.1f}, {9.2f, 2.7f}, {4.6f, 9.4f}});
  AddPolygon(backward, {{1.3f, 1.1f}, {4.6f, 9.4f}, {9.2f, 2.7f}});
  for (ZFillRule rule : {ZFillRule::kNonZero, ZFillRule::kEvenOdd}) {
    const Grid a = Render(11, 11, forward, rule);
    EXPECT_EQ(a, Render(11, 11, backward, rule)) << static_cast<int>(rule);
    EXPECT_GT(Sum(a), 0);
  }
}

TEST(ZRenderer, ShapesSharingAnEdgeLeaveNoSeam) {
  // A square cut along a slanted line: in every pixel the two halves add up
  // to full coverage (256 where the cut crosses, clamped to 255 in a single
  // fill), so there is neither a gap nor an overlap.
  ZPath upper, lower;
  AddPolygon(upper, {{1, 1}, {11, 1}, {11, 4.3f}, {1, 9.7f}});
  AddPolygon(lower, {{1, 9.7f}, {11, 4.3f}, {11, 11}, {1, 11}});
  const Grid a = Render(12, 12, upper), b = Render(12, 12, lower);
  for (int y = 1; y < 11; ++y)
    for (int x = 1; x < 11; ++x) {
      EXPECT_GE(a[y][x] + b[y][x], 255) << x << "," << y;
      EXPECT_LE(a[y][x] + b[y][x], 256) << x << "," << y;
    }
}

TEST(ZRenderer, CurvedShapesCoverTheirArea) {
  const double pi = 3.14159265358979;
  const float cx = 16.3f, cy = 16.7f, r = 10;
  ZPath arcs;
  arcs.moveTo(cx + r, cy);
  arcs.arcTo(r, r, cx - r, cy, true);
  arcs.arcTo(r, r, cx + r, cy, true);
  arcs.close();
  // Four cubics with the usual circle constant.
  const float k = 0.5522848f * r;
  ZPath cubics;
  cubics.moveTo(cx + r, cy);
  cubics.cubicTo(cx + r, cy + k, cx + k, cy + r, cx, cy + r);
  cubics.cubicTo(cx - k, cy + r, cx - r, cy + k, cx - r, cy);
  cubics.cubicTo(cx - r, cy - k, cx - k, cy - r, cx, cy - r);
  cubics.cubicTo(cx + k, cy - r, cx + r, cy - k, cx + r, cy);
  cubics.close();
  // An ellipse of quadratics, stretched by a transformation.
  ZPath quads;
  quads.moveTo(1, 0);
  quads.quadTo(1, 1, 0, 1);
  quads.quadTo(-1, 1, -1, 0);
  quads.quadTo(-1, -1, 0, -1);
  quads.quadTo(1, -1, 1, 0);
  quads.close();
  PathTransform stretch;
  stretch.SetScale(12, 6);
  stretch.SetTranslation(16, 16);
  // The quadratics through the square's corners bound 10/3 of the unit square.
  struct Case {
    const char* name;
    const ZPath& path;
    const PathTransform* transform;
    double area;
  };
  const Case cases[] = {{"arcs", arcs, nullptr, pi * r * r},
                        {"cubics", cubics, nullptr, pi * r * r},
                        {"quadratics", quads, &stretch, 10.0 / 3 * 12 * 6}};
  for (const Case& c : cases)
    for (ZFillRule rule : {ZFillRule::kNonZero, ZFillRule::kEvenOdd}) {
      const Grid g = Render(33, 33, c.path, rule, c.transform);
      EXPECT_NEAR(Sum(g) / 255.0, c.area, c.area * 0.004) << c.name;
      EXPECT_EQ(g[16][16], 255) << c.name;
      EXPECT_EQ(g[0][0], 0) << c.name;
    }
}

TEST(ZRenderer, TransformationsMoveTheShapeExactly) {
  // A unit square scaled by 2 and moved by (1, 1) is the square (1,1)-(3,3).
  PathTransform t;
  t.SetScale(2, 2);
  t.SetTranslation(1, 1);
  EXPECT_EQ(Render(5, 5, RectPath(0, 0, 1, 1), ZFillRule::kNonZero, &t), Render(5, 5, RectPath(1, 1, 3, 3)));
  EXPECT_EQ(Render(5, 5, RectPath(0.25f, 0, 0.75f, 1), ZFillRule::kNonZero, &t),
            Render(5, 5, RectPath(1.5f, 1, 2.5f, 3)));

  // A quarter turn: (x, y) -> (-y, x) on an image whose y axis points down.
  PathTransform quarter;
  quarter.SetRotation(90 * 0.017453292519444445f);
  quarter.SetTranslation(5, 5);
  EXPECT_EQ(Render(10, 10, RectPath(-2, -1.5f, 2, 1), ZFillRule::kNonZero, &quarter),
            Render(10, 10, RectPath(4, 3, 6.5f, 7)));

  // A split field: the rectangle (-W, 0)-(W, 2H) moved to the split point
  // fills everything below the line through it, or, turned a quarter,
  // everything left of it.
  const float W = 6, H = 6;
  ZPath field;
  AddPolygon(field, {{-W, 0}, {W, 0}, {W, 2 * H}, {-W, 2 * H}});
  PathTransform place;
  place.SetTranslation(3, 2.5f);
  EXPECT_EQ(Render(6, 6, field, ZFillRule::kNonZero, &place), Expect(6, 6, [](int, int y) {
              return y < 2 ? 0 : y == 2 ? 128 : 255;
            }));
  place.SetRotation(90 * 0.017453292519444445f);
  place.SetTranslation(2.5f, 3);
  EXPECT_EQ(Render(6, 6, field, ZFillRule::kNonZero, &place), Expect(6, 6, [](int x, int) {
              return x < 2 ? 255 : x == 2 ? 129 : 0;
            }));
}

TEST(ZRenderer, ClipsToTheStencilBounds) {
  ZPath tri;
  AddPolygon(tri, {{-2.3f, -1.2f}, {9.6f, 3.1f}, {1.2f, 8.7f}});
  // Pre-filled so that untouched pixels show.
  RasterRef whole = Plane(8, 8, 1, 7);
  {
    ZStencil s(*whole);
    ZRenderer().Render(tri, nullptr, s, ZFillRule::kNonZero);
  }
  const Grid reference = Read(*whole);
  const fx::Rect boundsCases[] = {{2, 1, 6, 5}, {-5, -5, 3, 100}, {0, 0, 8, 8}, {4, 4, 4, 9}, {9, 9, 12, 12}};
  for (const fx::Rect& b : boundsCases) {
    RasterRef r = Plane(8, 8, 1, 7);
    ZStencil s(*r);
    s.SetBounds(b);
    ZRenderer().Render(tri, nullptr, s, ZFillRule::kNonZero);
    EXPECT_EQ(Read(*r), Expect(8, 8, [&](int x, int y) { return b.Contains(x, y) ? reference[y][x] : 7; }))
        << b.top << "," << b.left << "," << b.bottom << "," << b.right;
  }
}

TEST(ZRenderer, NothingIsDrawnForEmptyOutsideOrNonFinitePaths) {
  struct Case {
    const char* name;
    std::function<void(ZPath&, PathTransform&)> build;
    bool noCells;
  };
  const Case cases[] = {
      {"empty path", [](ZPath&, PathTransform&) {}, true},
      {"only a moveTo", [](ZPath& p, PathTransform&) { p.moveTo(2, 2); }, true},
      {"horizontal lines",
       [](ZPath& p, PathTransform&) {
         AddPolygon(p, {{0, 2}, {5, 2}, {1, 2}});
       },
       true},
      {"above", [](ZPath& p, PathTransform&) { AddRect(p, 1, -9, 4, -2); }, true},
      {"below", [](ZPath& p, PathTransform&) { AddRect(p, 1, 6, 4, 20); }, true},
      {"touching the bottom edge from below", [](ZPath& p, PathTransform&) { AddRect(p, 1, 6, 4, 7); }, true},
      {"left", [](ZPath& p, PathTransform&) { AddRect(p, -9, 1, -2.5f, 4); }, false},
      {"right", [](ZPath& p, PathTransform&) { AddRect(p, 7.5f, 1, 30, 4); }, false},
      {"far left, huge", [](ZPath& p, PathTransform&) { AddRect(p, -1e30f, -1e30f, -1e29f, 1e30f); }, false},
      {"NaN corner",
       [](ZPath& p, PathTransform&) {
         AddPolygon(p, {{1, 1}, {5, 1}, {kNaN, 5}, {1, 5}});
       },
       true},
      {"infinite corner",
       [](ZPath& p, PathTransform&) {
         AddPolygon(p, {{1, 1}, {kInf, 1}, {5, 5}, {1, 5}});
       },
       true},
      {"NaN control point",
       [](ZPath& p, PathTransform&) {
         p.moveTo(1, 1);
         p.cubicTo(kNaN, 1, 5, 5, 1, 5);
         p.close();
       },
       true},
      {"NaN rotation",
       [](ZPath& p, PathTransform& t) {
         AddRect(p, 1, 1, 4, 4);
         t.SetRotation(kNaN);
       },
       true},
      {"infinite scale",
       [](ZPath& p, PathTransform& t) {
         AddRect(p, 1, 1, 4, 4);
         t.SetScale(kInf, 1);
       },
       true},
      {"overflowing the floats",
       [](ZPath& p, PathTransform& t) {
         AddRect(p, -FLT_MAX, -FLT_MAX, FLT_MAX, FLT_MAX);
         t.SetScale(2, 2);
       },
       true},
  };
  for (const Case& c : cases) {
    for (uint32_t bytes : {1u, 2u}) {
      ZPath p;
      PathTransform t;
      c.build(p, t);
      RasterRef r = Plane(6, 6, bytes);
      ZStencil s(*r);
      ZRenderer renderer;
      renderer.Render(p, &t, s, ZFillRule::kNonZero);
      EXPECT_EQ(Read(*r), Expect(6, 6, [](int, int) { return 0; })) << c.name;
      if (c.noCells) {
        EXPECT_EQ(renderer.CellCount(), 0u) << c.name;
      }
    }
  }
}

TEST(ZRenderer, HugeCoordinatesAreCutNotWrapped) {
  // Corners far outside: only what lies on the target counts.
  EXPECT_EQ(Render(4, 4, RectPath(-1e30f, -1e30f, 2, 2)),
            Expect(4, 4, [](int x, int y) { return x < 2 && y < 2 ? 255 : 0; }));
  EXPECT_EQ(Render(4, 4, RectPath(-FLT_MAX, -FLT_MAX, FLT_MAX, FLT_MAX)),
            Expect(4, 4, [](int, int) { return 255; }));
  EXPECT_EQ(Render(4, 4, RectPath(-FLT_MAX, -FLT_MAX, FLT_MAX, FLT_MAX), ZFillRule::kEvenOdd),
            Expect(4, 4, [](int, int) { return 255; }));

  // A slanted half-plane with far corners matches the same edge drawn
  // between nearby points, to a level of rounding.
  auto edgeY = [](float x) { return 3 + 0.25f * x; };
  ZPath far, near;
  AddPolygon(far, {{-1e6f, edgeY(-1e6f)}, {1e6f, edgeY(1e6f)}, {1e6f, 1e6f}, {-1e6f, 1e6f}});
  AddPolygon(near, {{-10, edgeY(-10)}, {30, edgeY(30)}, {30, 40}, {-10, 40}});
  const Grid a = Render(20, 20, far), b = Render(20, 20, near);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) EXPECT_NEAR(a[y][x], b[y][x], 2) << x << "," << y;
  EXPECT_GT(Sum(a), 0);

  // Edges between corners near the float limit cannot be placed to a pixel
  // in double precision, but every sub-scanline still sees each edge
  // exactly once: a triangle winds at most once anywhere, so both rules
  // agree, and each row is a step from the filled side to the empty one.
  for (float far : {3e38f, 1e38f, 3e37f, 1e30f})
    for (bool reversed : {false, true}) {
      ZPath lowerLeft;
      if (reversed)
        AddPolygon(lowerLeft, {{-far, -far}, {-far, far}, {far, far * 1.0000001f}});
      else
        AddPolygon(lowerLeft, {{-far, -far}, {far, far * 1.0000001f}, {-far, far}});
      const Grid g = Render(8, 8, lowerLeft);
      EXPECT_EQ(g, Render(8, 8, lowerLeft, ZFillRule::kEvenOdd)) << far;
      for (int y = 0; y < 8; ++y)
        for (int x = 1; x < 8; ++x) EXPECT_LE(g[y][x], g[y][x - 1]) << x << "," << y << " " << far;
    }
}

TEST(ZRenderer, OpenSubpathsFillAsIfClosed) {
  ZPath open, closed;
  AddPolygon(open, {{1.5f, 1}, {8, 2.5f}, {3, 7}}, false);
  AddPolygon(open, {{1, 8}, {9, 8}, {9, 9.5f}, {1, 9.5f}}, false);
  AddPolygon(closed, {{1.5f, 1}, {8, 2.5f}, {3, 7}});
  AddPolygon(closed, {{1, 8}, {9, 8}, {9, 9.5f}, {1, 9.5f}});
  EXPECT_EQ(Render(10, 10, open), Render(10, 10, closed));
}

TEST(ZRenderer, ARendererIsReusable) {
  ZRenderer renderer;
  RasterRef a = Plane(6, 6, 1), b = Plane(6, 6, 1), c = Plane(6, 6, 1);
  ZStencil sa(*a), sb(*b), sc(*c);
  renderer.Render(RectPath(0, 0, 6, 6), nullptr, sa, ZFillRule::kNonZero);
  ZPath broken;
  AddPolygon(broken, {{1, 1}, {kNaN, 2}, {1, 4}});
  renderer.Render(broken, nullptr, sb, ZFillRule::kNonZero);
  PathTransform t;
  t.SetTranslation(1, 1);
  renderer.Render(RectPath(0.5f, 0, 2, 1.5f), t, sc, ZFillRule::kEvenOdd);
  EXPECT_EQ(Read(*b), Expect(6, 6, [](int, int) { return 0; }));
  EXPECT_EQ(Read(*c), Render(6, 6, RectPath(1.5f, 1, 3, 2.5f)));
  // The box is of the untransformed points.
  EXPECT_EQ(renderer.BoundingBox().minX, 0.5f);
  EXPECT_EQ(renderer.BoundingBox().minY, 0);
  EXPECT_EQ(renderer.BoundingBox().maxX, 2);
  EXPECT_EQ(renderer.BoundingBox().maxY, 1.5f);
  renderer.Render(ZPath(), nullptr, sc, ZFillRule::kNonZero);
  EXPECT_EQ(renderer.BoundingBox().minX, FLT_MAX);
  EXPECT_EQ(renderer.BoundingBox().maxY, -FLT_MAX);
}

TEST(ZRenderer, EmptyTargetsAreLeftAlone) {
  for (int w : {0, 3})
    for (int h : {0, 3}) {
      if (w && h) continue;
      RasterRef r = fx::MakeRaster(w, h, 1, 1);
      ZStencil s(*r);
      ZRenderer renderer;
      renderer.Render(RectPath(-1, -1, 5, 5), nullptr, s, ZFillRule::kNonZero);
      EXPECT_EQ(renderer.CellCount(), 0u);
    }
}

TEST(ZStencil, CoverageAccumulatesLikeGreyLevelsOver) {
  struct Case {
    const char* name;
    uint32_t bytes;
    int before;
    int opacity;
    float edge;  // the shape covers x >= edge of a 1 x 1 raster
    int after;
  };
  const Case cases[] = {
      {"8-bit full", 1, 0, 255, 0, 255},
      {"8-bit full over grey", 1, 100, 255, 0, 255},
      {"8-bit half on empty", 1, 0, 255, 0.5f, 127},
      {"8-bit half over grey", 1, 100, 255, 0.5f, 127 + 128 * 100 / 255},
      {"8-bit opacity 128", 1, 0, 128, 0, 128},
      {"8-bit opacity 128 over 128", 1, 128, 128, 0, 128 + 127 * 128 / 255},
      {"8-bit opacity 0", 1, 50, 0, 0, 50},
      {"16-bit full", 2, 0, 255, 0, 32768},
      {"16-bit half on empty", 2, 0, 255, 0.5f, 16320},
      {"16-bit half over 1000", 2, 1000, 255, 0.5f, 16320 + (32768 - 16320) * 1000 / 32768},
      {"16-bit opacity 128", 2, 0, 128, 0, 16448},
      {"16-bit out-of-range sample", 2, 65535, 255, 0.5f, 32768},
  };
  for (const Case& c : cases) {
    RasterRef r = Plane(1, 1, c.bytes, c.before);
    ZStencil s(*r);
    s.SetOpacity(c.opacity);
    ZRenderer().Render(RectPath(c.edge, 0, 1, 1), nullptr, s, ZFillRule::kNonZero);
    EXPECT_EQ(Read(*r)[0][0], c.after) << c.name;
  }
  // Runs between crossed pixels take the same formula.
  RasterRef r = Plane(5, 1, 1, 100);
  ZStencil s(*r);
  s.SetOpacity(128);
  ZRenderer().Render(RectPath(0, 0, 5, 1), nullptr, s, ZFillRule::kNonZero);
  EXPECT_EQ(Read(*r), Grid(1, std::vector<int>(5, 128 + 127 * 100 / 255)));
  s.SetOpacity(1000);
  EXPECT_EQ(s.Opacity(), 255);
  s.SetOpacity(-3);
  EXPECT_EQ(s.Opacity(), 0);
}

TEST(ZColorStencil, PaintsItsColourThroughTheCoverage) {
  // x = 0 untouched, x = 1 half covered, x = 2 fully, x = 3 on the far edge.
  const ZPath shape = RectPath(1.5f, 0, 3, 1);
  struct Case {
    const char* name;
    uint32_t bytes;
    int before[4];
    uint8_t colour[4];
    int expected[4][4];
  };
  const Case cases[] = {
      {"8-bit",
       1,
       {10, 20, 30, 40},
       {200, 100, 50, 255},
       {{10, 20, 30, 40},
        {(200 * 127 + 10 * 128) / 255, (100 * 127 + 20 * 128) / 255, (50 * 127 + 30 * 128) / 255,
         127 + 40 * 128 / 255},
        {200, 100, 50, 255},
        {10, 20, 30, 40}}},
      {"8-bit, colour half transparent",
       1,
       {10, 20, 30, 40},
       {200, 100, 50, 128},
       {{10, 20, 30, 40},
        {(200 * 63 + 10 * 192) / 255, (100 * 63 + 20 * 192) / 255, (50 * 63 + 30 * 192) / 255,
         63 + 40 * 192 / 255},
        {(200 * 128 + 10 * 127) / 255, (100 * 128 + 20 * 127) / 255, (50 * 128 + 30 * 127) / 255,
         128 + 40 * 127 / 255},
        {10, 20, 30, 40}}},
      // Colour widened to 25700, 12850, 6425; alpha 127 to 16320.
      {"16-bit",
       2,
       {1000, 2000, 3000, 4000},
       {200, 100, 50, 255},
       {{1000, 2000, 3000, 4000},
        {13301, 7403, 4705, 18327},
        {25700, 12850, 6425, 32768},
        {1000, 2000, 3000, 4000}}},
  };
  for (const Case& c : cases) {
    RasterRef r = fx::MakeRaster(4, 1, 4, c.bytes);
    for (int x = 0; x < 4; ++x)
      for (int k = 0; k < 4; ++k) {
        if (c.bytes == 1)
          r->RowAs<uint8_t>(0)[4 * x + k] = static_cast<uint8_t>(c.before[k]);
        else
          r->RowAs<uint16_t>(0)[4 * x + k] = static_cast<uint16_t>(c.before[k]);
      }
    ZColorStencil s(*r, c.colour[0], c.colour[1], c.colour[2], c.colour[3]);
    ZRenderer().Render(shape, nullptr, s, ZFillRule::kNonZero);
    for (int x = 0; x < 4; ++x)
      for (int k = 0; k < 4; ++k) {
        const int v = c.bytes == 1 ? r->RowAs<uint8_t>(0)[4 * x + k] : r->RowAs<uint16_t>(0)[4 * x + k];
        EXPECT_EQ(v, c.expected[x][k]) << c.name << " x=" << x << " k=" << k;
      }
  }
}

TEST(ZStencil, RefusesTargetsOfTheWrongFormat) {
  RasterRef rgba = fx::MakeRaster(2, 2, 4, 1);
  RasterRef grey = fx::MakeRaster(2, 2, 1, 2);
  RasterRef wide = fx::MakeRaster(2, 2, 1, 4);
  EXPECT_THROW(ZStencil{*rgba}, std::invalid_argument);
  EXPECT_THROW(ZStencil{*wide}, std::invalid_argument);
  EXPECT_THROW((ZColorStencil{*grey, 1, 2, 3}), std::invalid_argument);
  EXPECT_NO_THROW(ZStencil{*grey});
  EXPECT_NO_THROW((ZColorStencil{*rgba, 1, 2, 3}));
}

}  // namespace
