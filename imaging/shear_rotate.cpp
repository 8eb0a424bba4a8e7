#include "imaging/shear_rotate.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "imaging/parallel.h"
#include "imaging/pixel.h"

namespace fx {
namespace {

// One shear: along rows (each row y moves by k (y - c)) or along columns
// (each column x moves by k (x - c)).
struct Shear {
  bool rows;
  double k;
  double c;

  double Shift(int32_t across) const { return k * (across - c); }
};

int32_t Floor(double v) {
  return static_cast<int32_t>(std::floor(v));
}
int32_t Ceil(double v) {
  return static_cast<int32_t>(std::ceil(v));
}

// The lines a shear moves, and the positions along them, of a rectangle.
int32_t AcrossFirst(const Shear& s, const Rect& r) {
  return s.rows ? r.top : r.left;
}
int32_t AcrossEnd(const Shear& s, const Rect& r) {
  return s.rows ? r.bottom : r.right;
}
int32_t AlongFirst(const Shear& s, const Rect& r) {
  return s.rows ? r.left : r.top;
}
int32_t AlongEnd(const Shear& s, const Rect& r) {
  return s.rows ? r.right : r.bottom;
}
Rect Make(const Shear& s, int32_t acrossFirst, int32_t acrossEnd, int32_t alongFirst, int32_t alongEnd) {
  if (alongEnd < alongFirst) alongEnd = alongFirst;
  return s.rows ? Rect{acrossFirst, alongFirst, acrossEnd, alongEnd}
                : Rect{alongFirst, acrossFirst, alongEnd, acrossEnd};
}

// The positions a line's content [first, end) reaches after a shift: the
// output at x reads floor(x - shift) and the next sample.
void Reach(double shift, int32_t first, int32_t end, int32_t& lo, int32_t& hi) {
  lo = std::min(lo, Ceil(first - 1 + shift));
  hi = std::max(hi, Ceil(end + shift));
}

// Every position the sheared content of `extent` reaches.
Rect ContentReach(const Shear& s, const Rect& extent) {
  const int32_t a0 = AcrossFirst(s, extent), a1 = AcrossEnd(s, extent);
  if (a1 <= a0) return Make(s, a0, a0, 0, 0);
  int32_t lo = INT32_MAX, hi = INT32_MIN;
  // The shift is linear across the lines: its extremes are at the ends.
  for (int32_t a : {a0, a1 - 1}) Reach(s.Shift(a), AlongFirst(s, extent), AlongEnd(s, extent), lo, hi);
  return Make(s, a0, a1, lo, hi);
}

// The input a window of the shear's output reads.
Rect Needed(const Shear& s, const Rect& window) {
  const int32_t a0 = AcrossFirst(s, window), a1 = AcrossEnd(s, window);
  if (a1 <= a0) return Make(s, a0, a0, 0, 0);
  int32_t lo = INT32_MAX, hi = INT32_MIN;
  for (int32_t a : {a0, a1 - 1}) {
    const double shift = s.Shift(a);
    lo = std::min(lo, Floor(AlongFirst(s, window) - shift));
    hi = std::max(hi, Floor(AlongEnd(s, window) - 1 - shift) + 2);
  }
  return Make(s, a0, a1, lo, hi);
}

template <class S>
PlacedRaster Apply(const Shear& s, const PlacedRaster& in, const Rect& window) {
  PlacedRaster out;
  out.extent = window;
  out.raster = MakeRaster(std::max(1, window.Width()), std::max(1, window.Height()), 1, sizeof(S));
  out.raster->Fill(0);
  const Rect& e = in.extent;
  const Raster& src = *in.raster;
  const int32_t along0 = AlongFirst(s, e), along1 = AlongEnd(s, e);
  // Sample `along` of line `across` of the input, 0 outside it.
  const auto at = [&](int32_t across, int32_t along) -> int32_t {
    if (along < along0 || along >= along1) return 0;
    return s.rows ? src.RowAs<S>(across - e.top)[along - e.left]
                  : src.RowAs<S>(along - e.top)[across - e.left];
  };
  Raster& dst = *out.raster;
  // Lines are independent: each reads its own input line and writes its own
  // output line.
  const int32_t lines0 = std::max(AcrossFirst(s, window), AcrossFirst(s, e));
  const int32_t lines1 = std::min(AcrossEnd(s, window), AcrossEnd(s, e));
  const int64_t lineWork = int64_t{AlongEnd(s, window)} - AlongFirst(s, window);
  ParallelRows(lines0, lines1, 4 * lineWork, [&](int32_t firstLine, int32_t endLine) {
    for (int32_t across = firstLine; across < endLine; ++across) {
      const double shift = s.Shift(across);
      // Only where the line's content reaches; the rest stays 0.
      const int32_t first = std::max(AlongFirst(s, window), Ceil(along0 - 1 + shift));
      const int32_t end = std::min(AlongEnd(s, window), Ceil(along1 + shift));
      for (int32_t along = first; along < end; ++along) {
        const double u = along - shift;
        const double f = std::floor(u);
        const int32_t i = static_cast<int32_t>(f);
        if (i + 1 < along0 || i >= along1) continue;
        const int32_t w = static_cast<int32_t>((u - f) * 256);
        const int32_t v = (at(across, i) * (256 - w) + at(across, i + 1) * w) / 256;
        if (s.rows)
          dst.RowAs<S>(across - window.top)[along - window.left] = static_cast<S>(v);
        else
          dst.RowAs<S>(along - window.top)[across - window.left] = static_cast<S>(v);
      }
    }
  });
  return out;
}

PlacedRaster Apply(const Shear& s, const PlacedRaster& in, const Rect& window) {
  return WithDepth(in.raster->Is16Bit(), [&]<class S>() { return Apply<S>(s, in, window); });
}

// The three shears of a rotation within -45..45 degrees, in the order they
// apply.
void Shears(const Rotation& r, Shear (&out)[3]) {
  const double a = std::clamp(r.degrees, -45.0, 45.0) * (std::numbers::pi / 180);
  const double t = -std::tan(a / 2);
  out[0] = {true, t, r.centreY};
  out[1] = {false, std::sin(a), r.centreX};
  out[2] = {true, t, r.centreY};
}

PlacedRaster Sheared(const PlacedRaster& in, const Rotation& rotation) {
  Shear s[3];
  Shears(rotation, s);
  PlacedRaster a = Apply(s[0], in, ContentReach(s[0], in.extent));
  PlacedRaster b = Apply(s[1], a, ContentReach(s[1], a.extent));
  return Apply(s[2], b, ContentReach(s[2], b.extent));
}

PlacedRaster Sheared(const PlacedRaster& in, const Rotation& rotation, const Rect& window) {
  Shear s[3];
  Shears(rotation, s);
  // Back from the window: what each stage must hold for the next, no more
  // than its input's content reaches.
  const Rect second = Needed(s[2], window).Intersect(ContentReach(s[1], ContentReach(s[0], in.extent)));
  const Rect first = Needed(s[1], second).Intersect(ContentReach(s[0], in.extent));
  PlacedRaster a = Apply(s[0], in, first);
  PlacedRaster b = Apply(s[1], a, second);
  return Apply(s[2], b, window);
}

// Nearest integer of a frame coordinate; far-off centres stay far off.
int32_t Nearest(double v) {
  return static_cast<int32_t>(std::clamp(std::floor(v + 0.5), -1e9, 1e9));
}

// A whole number of clockwise quarter turns about the centre, done as a map
// of pixel positions: exact, nothing resampled. A quarter turn takes (x, y)
// to (s - y, d + x) with s = cx + cy and d = cy - cx, a half turn to
// (2 cx - x, 2 cy - y); where those are not whole (a centre whose two
// coordinates differ by half a pixel) they are rounded to the nearest, and
// the turned content sits half a pixel off the exact turn.
class QuarterTurns {
 public:
  QuarterTurns(int32_t turns, double cx, double cy)
      : turns_(((turns % 4) + 4) % 4),
        s_(Nearest(cx + cy)),
        d_(Nearest(cy - cx)),
        a_(Nearest(2 * cx)),
        b_(Nearest(2 * cy)) {}

  int32_t Turns() const { return turns_; }

  // Where the pixels of r land.
  Rect Forward(const Rect& r) const {
    if (r.Empty()) return {};
    switch (turns_) {
      case 1:  // (x, y) -> (s - y, d + x)
        return {d_ + r.left, s_ - r.bottom + 1, d_ + r.right, s_ - r.top + 1};
      case 2:  // (x, y) -> (a - x, b - y)
        return {b_ - r.bottom + 1, a_ - r.right + 1, b_ - r.top + 1, a_ - r.left + 1};
      case 3:  // (x, y) -> (y - d, s - x)
        return {s_ - r.right + 1, r.top - d_, s_ - r.left + 1, r.bottom - d_};
      default:
        return r;
    }
  }
  // The pixels that land on r.
  Rect Backward(const Rect& r) const { return QuarterTurns(4 - turns_, s_, d_, a_, b_).Forward(r); }

  // The input pixel that lands on (x, y).
  void Source(int32_t x, int32_t y, int32_t& sx, int32_t& sy) const {
    switch (turns_) {
      case 1:
        sx = y - d_, sy = s_ - x;
        return;
      case 2:
        sx = a_ - x, sy = b_ - y;
        return;
      case 3:
        sx = s_ - y, sy = x + d_;
        return;
      default:
        sx = x, sy = y;
    }
  }

  // The content of `in` turned, over `window` (0 where nothing lands).
  template <class S>
  PlacedRaster Apply(const PlacedRaster& in, const Rect& window) const {
    PlacedRaster out;
    out.extent = window;
    out.raster = MakeRaster(std::max(1, window.Width()), std::max(1, window.Height()), 1, sizeof(S));
    out.raster->Fill(0);
    const Rect& e = in.extent;
    for (int32_t y = window.top; y < window.bottom; ++y) {
      S* row = out.raster->RowAs<S>(y - window.top);
      for (int32_t x = window.left; x < window.right; ++x) {
        int32_t sx, sy;
        Source(x, y, sx, sy);
        if (sx >= e.left && sx < e.right && sy >= e.top && sy < e.bottom)
          row[x - window.left] = in.raster->RowAs<S>(sy - e.top)[sx - e.left];
      }
    }
    return out;
  }
  PlacedRaster Apply(const PlacedRaster& in, const Rect& window) const {
    return WithDepth(in.raster->Is16Bit(), [&]<class S>() { return Apply<S>(in, window); });
  }

 private:
  QuarterTurns(int32_t turns, int32_t s, int32_t d, int32_t a, int32_t b)
      : turns_(((turns % 4) + 4) % 4), s_(s), d_(d), a_(a), b_(b) {}

  int32_t turns_;
  int32_t s_, d_, a_, b_;
};

// An angle as whole quarter turns and the rest within -45..45 degrees.
// Within -45..45 the shears alone turn it. Non-finite angles do not turn.
void Split(double degrees, int32_t& turns, double& rest) {
  if (!std::isfinite(degrees)) degrees = 0;
  if (std::fabs(degrees) <= 45) {
    turns = 0;
    rest = degrees;
    return;
  }
  const double a = std::fmod(degrees, 360.0);
  const double q = std::round(a / 90);
  turns = static_cast<int32_t>(q);
  rest = a - 90 * q;
}

}  // namespace

PlacedRaster ShearRotate(const PlacedRaster& in, const Rotation& rotation) {
  int32_t turns;
  Rotation rest = rotation;
  Split(rotation.degrees, turns, rest.degrees);
  const QuarterTurns quarter(turns, rotation.centreX, rotation.centreY);
  if (quarter.Turns() == 0) return Sheared(in, rest);
  if (rest.degrees == 0) return quarter.Apply(in, quarter.Forward(in.extent));
  const PlacedRaster sheared = Sheared(in, rest);
  return quarter.Apply(sheared, quarter.Forward(sheared.extent));
}

PlacedRaster ShearRotate(const PlacedRaster& in, const Rotation& rotation, const Rect& window) {
  int32_t turns;
  Rotation rest = rotation;
  Split(rotation.degrees, turns, rest.degrees);
  const QuarterTurns quarter(turns, rotation.centreX, rotation.centreY);
  if (quarter.Turns() == 0) return Sheared(in, rest, window);
  if (rest.degrees == 0) return quarter.Apply(in, window);
  // The shears compute only what lands on the window once turned.
  return quarter.Apply(Sheared(in, rest, quarter.Backward(window)), window);
}

}  // namespace fx
