// Tone curves and the look-up tables built from them. A table maps every
// sample value 0..L of a depth to an output sample: Depth<S>::kTableSize
// entries (256 for 8-bit, 32769 for 16-bit so that full scale is an index).
// Build tables when their inputs change and keep them between bands.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "imaging/pixel.h"
#include "imaging/rect.h"

namespace fx {

class Raster;

// A control-point curve over 0..1 with linear or natural-cubic-spline
// interpolation.
class ToneCurve {
 public:
  static constexpr int32_t kLinear = 0;
  static constexpr int32_t kSpline = 1;

  struct Point {
    double x = 0;
    double y = 0;
    double y2 = 0;  // spline second derivative
  };
  struct Control {
    double x = 0;
    double y = 0;
  };

  ToneCurve() = default;
  // The same as SetPoints on a new curve.
  ToneCurve(std::initializer_list<Control> points) { SetPoints(points); }

  // Replaces the points (ascending x). Clamping is switched on; more than two
  // points interpolate by spline, two or fewer linearly.
  void SetPoints(std::span<const Control> points);
  void SetPoints(std::initializer_list<Control> points) {
    SetPoints(std::span<const Control>(points.begin(), points.size()));
  }

  // Any value other than kLinear or kSpline makes the curve pass its input
  // through between the end points.
  void SetInterpolation(int32_t interpolation) { interpolation_ = interpolation; }
  int32_t Interpolation() const { return interpolation_; }
  void SetClamp(bool clamp) { clamp_ = clamp; }
  bool Clamps() const { return clamp_; }
  bool Dirty() const { return dirty_; }
  std::span<const Point> Points() const { return points_; }

  // The curve at x. Outside the end points it is the nearest end point's y.
  // The spline's second derivatives are recomputed here after SetPoints.
  double Evaluate(double x) const;

  // Exactly the two points (0, 0) and (1, 1).
  bool IsIdentity() const;

 private:
  void SolveSecondDerivatives() const;
  double Linear(double x) const;
  double Spline(double x) const;

  mutable std::vector<Point> points_;
  int32_t interpolation_ = kSpline;
  bool clamp_ = true;
  mutable bool dirty_ = true;
};

// 1 at centre, falling through 0.2 at width / 2 to 0 at width on both sides
// (spline, clamped).
ToneCurve TonalBand(double centre, double width);

// Bends (keeping 0 -> 0 and 1 -> 1), brightens and sets the contrast of x;
// the result is in 0..1. All three at 0 is the identity.
double ToneShape(double x, double brightness, double contrast, double bend);

// Tables from a curve: trunc(curve(i / L) * L), the identity for an identity
// curve. The span form fills a table the caller holds; the other returns a
// new one.
template <class S>
void FillCurveTable(const ToneCurve& curve, std::span<S, Depth<S>::kTableSize> table);
template <class S>
std::vector<S> CurveTable(const ToneCurve& curve);

// Tables from ToneShape: trunc(ToneShape(i / L, ...) * L + 0.5), the
// identity when brightness, contrast and bend are all 0.
template <class S>
void FillToneShapeTable(double brightness, double contrast, double bend,
                        std::span<S, Depth<S>::kTableSize> table);
template <class S>
std::vector<S> ToneShapeTable(double brightness, double contrast, double bend);

// The sRGB transfer tables between samples and 16-bit linear light (full
// scale 32768), built once on first use and kept for the module's life.
class LinearTables {
 public:
  static const LinearTables& Get();

  // Indexed by a sample of depth S (0..L): the 16-bit linear sample.
  template <class S>
  std::span<const uint16_t, Depth<S>::kTableSize> ToLinear() const {
    if constexpr (sizeof(S) == 1) {
      return toLinear8_;
    } else {
      return std::span<const uint16_t, Depth16::kTableSize>(toLinear16_.data(),
                                                            Depth16::kTableSize);
    }
  }
  // Indexed by a 16-bit linear sample (0..32768): the sample at depth S.
  template <class S>
  std::span<const S, Depth16::kTableSize> FromLinear() const {
    if constexpr (sizeof(S) == 1) {
      return std::span<const S, Depth16::kTableSize>(fromLinear8_.data(), Depth16::kTableSize);
    } else {
      return std::span<const S, Depth16::kTableSize>(fromLinear16_.data(), Depth16::kTableSize);
    }
  }

 private:
  LinearTables();

  std::array<uint16_t, Depth8::kTableSize> toLinear8_;
  std::vector<uint16_t> toLinear16_;
  std::vector<uint8_t> fromLinear8_;
  std::vector<uint16_t> fromLinear16_;
};

// Converts the samples of sourceRect (alpha included) of source, at its
// depth, into 16-bit linear light in destination with the rectangle's
// top-left corner at (column, row). Both rasters have the same channel
// count; destination is 16-bit. In place is allowed for a 16-bit source.
// The rectangle is clipped to both rasters.
void ToLinear(const Raster& source, const Rect& sourceRect, Raster& destination, int32_t column,
              int32_t row);
// The same rectangle in both rasters.
void ToLinear(const Raster& source, Raster& destination, const Rect& rect);

// Converts 16-bit linear samples of sourceRect into destination at its depth
// with the rectangle's top-left corner at (column, row). In place is allowed
// for a 16-bit destination.
void FromLinear(const Raster& source, const Rect& sourceRect, Raster& destination, int32_t column,
                int32_t row);
void FromLinear(const Raster& source, Raster& destination, const Rect& rect);

}  // namespace fx
