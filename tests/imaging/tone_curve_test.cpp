#include "imaging/tone_curve.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "imaging/raster.h"

namespace {

using fx::ToneCurve;
using fx::ToneShape;

// ------------------------------------------------------------- ToneCurve

TEST(ToneCurve, WithoutPointsPassesTheInputClamped) {
  ToneCurve curve;
  EXPECT_EQ(curve.Interpolation(), ToneCurve::kSpline);
  EXPECT_TRUE(curve.Clamps());
  EXPECT_EQ(curve.Evaluate(-0.5), 0.0);
  EXPECT_EQ(curve.Evaluate(0.3), 0.3);
  EXPECT_EQ(curve.Evaluate(1.5), 1.0);
  curve.SetClamp(false);
  EXPECT_EQ(curve.Evaluate(1.5), 1.5);
}

TEST(ToneCurve, SetPointsChoosesTheInterpolation) {
  ToneCurve curve;
  curve.SetClamp(false);
  curve.SetPoints({{0, 0.2}, {1, 0.6}});
  EXPECT_EQ(curve.Interpolation(), ToneCurve::kLinear);
  EXPECT_TRUE(curve.Clamps());
  EXPECT_TRUE(curve.Dirty());
  curve.SetPoints({{0, 0}, {0.5, 1}, {1, 0}});
  EXPECT_EQ(curve.Interpolation(), ToneCurve::kSpline);
  ASSERT_EQ(curve.Points().size(), 3u);
  EXPECT_EQ(curve.Points()[1].x, 0.5);
  EXPECT_EQ(curve.Points()[1].y, 1.0);
}

TEST(ToneCurve, OutsideTheEndPointsGivesTheirValues) {
  ToneCurve curve{{0.2, 0.3}, {0.5, 0.9}, {0.8, 0.1}};
  for (int32_t interpolation : {ToneCurve::kLinear, ToneCurve::kSpline, 7}) {
    curve.SetInterpolation(interpolation);
    EXPECT_EQ(curve.Evaluate(0.1), 0.3) << interpolation;
    EXPECT_EQ(curve.Evaluate(0.2), 0.3) << interpolation;
    EXPECT_EQ(curve.Evaluate(0.95), 0.1) << interpolation;
  }
}

TEST(ToneCurve, LinearInterpolation) {
  ToneCurve curve{{0, 0.2}, {1, 0.6}};
  EXPECT_DOUBLE_EQ(curve.Evaluate(0.5), 0.4);
  EXPECT_DOUBLE_EQ(curve.Evaluate(0.25), 0.3);

  ToneCurve peak{{0, 0}, {0.5, 1}, {1, 0}};
  peak.SetInterpolation(ToneCurve::kLinear);
  EXPECT_EQ(peak.Evaluate(0.25), 0.5);
  EXPECT_EQ(peak.Evaluate(0.5), 1.0);
  EXPECT_EQ(peak.Evaluate(0.875), 0.25);
}

TEST(ToneCurve, UnknownInterpolationPassesTheInputUnclamped) {
  ToneCurve curve{{0, 0.5}, {0.5, 0.9}, {1, 0.5}};
  curve.SetInterpolation(2);
  EXPECT_EQ(curve.Evaluate(0.3), 0.3);
  curve.SetPoints({{-1, 0}, {0.5, 0.5}, {3, 1}});
  curve.SetInterpolation(-1);
  EXPECT_EQ(curve.Evaluate(2.0), 2.0);  // not clamped to 1
}

// Natural cubic spline through (0, 0), (0.5, 1), (1, 0): the middle second
// derivative solves 2 (h + h) y2 = 6 (-1/h - 1/h) with h = 0.5, so
// y2 = -12, and the first piece is y = 2.5 t - 4 t^3... evaluated below by
// the textbook form.
double SplinePiece(double x0, double x1, double y0, double y1, double d0, double d1, double x) {
  const double h = x1 - x0;
  const double a = (x1 - x) / h;
  const double b = (x - x0) / h;
  return a * y0 + b * y1 + ((a * a * a - a) * d0 + (b * b * b - b) * d1) * h * h / 6;
}

TEST(ToneCurve, NaturalSplineThroughThreePoints) {
  ToneCurve curve{{0, 0}, {0.5, 1}, {1, 0}};
  EXPECT_NEAR(curve.Evaluate(0.25), 0.6875, 1e-12);
  EXPECT_FALSE(curve.Dirty());
  EXPECT_NEAR(curve.Points()[1].y2, -12.0, 1e-12);
  for (double x : {0.1, 0.3, 0.45, 0.6, 0.9})
    EXPECT_NEAR(
        curve.Evaluate(x),
        x <= 0.5 ? SplinePiece(0, 0.5, 0, 1, 0, -12, x) : SplinePiece(0.5, 1, 1, 0, -12, 0, x),
        1e-12)
        << x;
}

// Four unevenly spaced points: the two inner second derivatives come from a
// 2 x 2 system, solved here by Cramer's rule.
TEST(ToneCurve, NaturalSplineThroughUnevenPoints) {
  const double x[] = {0.0, 0.2, 0.7, 1.0};
  const double y[] = {0.1, 0.5, 0.3, 0.9};
  const double h0 = x[1] - x[0], h1 = x[2] - x[1], h2 = x[3] - x[2];
  const double r1 = 6 * ((y[2] - y[1]) / h1 - (y[1] - y[0]) / h0);
  const double r2 = 6 * ((y[3] - y[2]) / h2 - (y[2] - y[1]) / h1);
  const double a11 = 2 * (h0 + h1), a12 = h1, a21 = h1, a22 = 2 * (h1 + h2);
  const double det = a11 * a22 - a12 * a21;
  const double d[] = {0, (r1 * a22 - a12 * r2) / det, (a11 * r2 - a21 * r1) / det, 0};

  ToneCurve curve{{x[0], y[0]}, {x[1], y[1]}, {x[2], y[2]}, {x[3], y[3]}};
  curve.SetClamp(false);
  for (double at = 0.01; at < 1.0; at += 0.0625) {
    int i = at <= x[1] ? 0 : (at <= x[2] ? 1 : 2);
    EXPECT_NEAR(curve.Evaluate(at), SplinePiece(x[i], x[i + 1], y[i], y[i + 1], d[i], d[i + 1], at),
                1e-12)
        << at;
  }
}

TEST(ToneCurve, NewPointsReplaceTheSecondDerivatives) {
  ToneCurve curve{{0, 0}, {0.5, 1}, {1, 0}};
  (void)curve.Evaluate(0.25);
  curve.SetPoints({{0, 1}, {0.05, 0.85}, {1, 0}});
  EXPECT_TRUE(curve.Dirty());
  const ToneCurve fresh{{0, 1}, {0.05, 0.85}, {1, 0}};
  for (double at : {0.02, 0.3, 0.7}) EXPECT_EQ(curve.Evaluate(at), fresh.Evaluate(at)) << at;
}

TEST(ToneCurve, IsIdentity) {
  EXPECT_TRUE((ToneCurve{{0, 0}, {1, 1}}).IsIdentity());
  EXPECT_FALSE((ToneCurve{{0, 0}, {0.5, 0.5}, {1, 1}}).IsIdentity());
  EXPECT_FALSE((ToneCurve{{0, 0}, {1, 0.999}}).IsIdentity());
  EXPECT_FALSE(ToneCurve().IsIdentity());
}

// --------------------------------------------------------- TonalBand

// The symmetric five-point band: with h = width / 2 the inner second
// derivatives solve 4A + B = 3.6 / h^2 and 2A + 4B = -9.6 / h^2.
double BandReference(double centre, double width, double at) {
  const double h = width / 2;
  const double a = 12 / (7 * h * h);
  const double b = -22.8 / (7 * h * h);
  const double xs[] = {centre - width, centre - h, centre, centre + h, centre + width};
  const double ys[] = {0, 0.2, 1, 0.2, 0};
  const double ds[] = {0, a, b, a, 0};
  if (at <= xs[0] || at >= xs[4]) return 0;
  int i = 0;
  while (at > xs[i + 1]) ++i;
  return std::clamp(SplinePiece(xs[i], xs[i + 1], ys[i], ys[i + 1], ds[i], ds[i + 1], at), 0.0,
                    1.0);
}

TEST(TonalBand, PeaksAtTheCentreAndFallsToZero) {
  const ToneCurve band = fx::TonalBand(0.4, 0.3);
  ASSERT_EQ(band.Points().size(), 5u);
  const double xs[] = {0.1, 0.25, 0.4, 0.55, 0.7};
  const double ys[] = {0, 0.2, 1, 0.2, 0};
  for (int i = 0; i < 5; ++i) {
    EXPECT_NEAR(band.Points()[i].x, xs[i], 1e-15);
    EXPECT_EQ(band.Points()[i].y, ys[i]);
  }
  EXPECT_EQ(band.Interpolation(), ToneCurve::kSpline);
  EXPECT_EQ(band.Evaluate(0.4), 1.0);
  EXPECT_NEAR(band.Evaluate(0.25), 0.2, 1e-15);
  EXPECT_EQ(band.Evaluate(0.05), 0.0);
  EXPECT_EQ(band.Evaluate(0.9), 0.0);
  for (double at = 0.0; at <= 1.0; at += 1.0 / 64) {
    const double v = band.Evaluate(at);
    EXPECT_GE(v, 0.0) << at;  // the spline dips below 0 near the feet: clamped
    EXPECT_NEAR(v, BandReference(0.4, 0.3, at), 1e-12) << at;
  }
}

TEST(TonalBand, ZeroWidthSelectsNothing) {
  for (uint8_t v : fx::CurveTable<uint8_t>(fx::TonalBand(0.5, 0))) ASSERT_EQ(v, 0);
  for (uint16_t v : fx::CurveTable<uint16_t>(fx::TonalBand(0.5, 0))) ASSERT_EQ(v, 0);
}

// --------------------------------------------------------- curve tables

TEST(CurveTable, IdentityCurveGivesTheIdentity) {
  const ToneCurve identity{{0, 0}, {1, 1}};
  const std::vector<uint8_t> t8 = fx::CurveTable<uint8_t>(identity);
  ASSERT_EQ(t8.size(), 256u);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(t8[i], i);
  const std::vector<uint16_t> t16 = fx::CurveTable<uint16_t>(identity);
  ASSERT_EQ(t16.size(), 32769u);
  for (int i = 0; i < 32769; ++i) ASSERT_EQ(t16[i], i);
}

// Values are truncated, not rounded: (0, 0)-(1, 0.25) in 16-bit is i / 4
// exactly, so 5 gives 1.
TEST(CurveTable, EntriesAreTruncated) {
  const std::vector<uint16_t> quarter = fx::CurveTable<uint16_t>(ToneCurve{{0, 0}, {1, 0.25}});
  EXPECT_EQ(quarter[0], 0);
  EXPECT_EQ(quarter[3], 0);
  EXPECT_EQ(quarter[5], 1);
  EXPECT_EQ(quarter[32767], 8191);
  EXPECT_EQ(quarter[32768], 8192);

  const std::vector<uint8_t> half = fx::CurveTable<uint8_t>(ToneCurve{{0, 0}, {1, 0.5}});
  EXPECT_EQ(half[1], 0);
  EXPECT_EQ(half[101], 50);
  EXPECT_EQ(half[255], 127);
}

TEST(CurveTable, TonalBandAtKeyIndexes) {
  // Expected values from the closed-form band: 8-bit trunc(band(i/255)*255),
  // 16-bit trunc(band(i/32768)*32768); none lies near a whole number.
  const ToneCurve band = fx::TonalBand(0.5, 0.5);
  std::array<uint8_t, 256> t8{};
  fx::FillCurveTable<uint8_t>(band, t8);
  const std::pair<int, int> cases8[] = {{0, 0},     {64, 51},  {96, 179}, {128, 254},
                                        {160, 175}, {191, 51}, {255, 0}};
  for (auto [i, expected] : cases8) {
    EXPECT_NEAR(BandReference(0.5, 0.5, i / 255.0) * 255, expected + 0.5, 0.5) << i;
    EXPECT_EQ(t8[i], expected) << i;
  }
  EXPECT_EQ(fx::CurveTable<uint8_t>(band), std::vector<uint8_t>(t8.begin(), t8.end()));

  const std::vector<uint16_t> t16 = fx::CurveTable<uint16_t>(band);
  const std::pair<int, int> cases16[] = {{0, 0},         {8192, 6553},   {12000, 21645},
                                         {16384, 32768}, {20000, 24705}, {24576, 6553},
                                         {32768, 0}};
  for (auto [i, expected] : cases16) EXPECT_EQ(t16[i], expected) << i;

  const std::vector<uint8_t> narrow = fx::CurveTable<uint8_t>(fx::TonalBand(0.2, 0.3));
  EXPECT_EQ(narrow[32], 178);
  EXPECT_EQ(narrow[90], 47);
}

// ------------------------------------------------------------- ToneShape

TEST(ToneShape, Values) {
  struct Case {
    double x, brightness, contrast, bend, expected;
  };
  const Case cases[] = {
      {0.0, 0, 0, 0, 0.0},
      {0.37, 0, 0, 0, 0.37},
      {1.0, 0, 0, 0, 1.0},
      {0.3, 0, 1, 0, 0.0},  // full contrast is a threshold at 0.5
      {0.5, 0, 1, 0, 1.0},
      {0.49, 0.1, 2, 0, 1.0},  // brightened past 0.5 first
      {0.6, 0, 0.5, 0, 0.7},
      {0.9, 0, 0.5, 0, 1.0},  // clamped
      {0.1, 0, -0.5, 0, 0.3},
      {0.8, 0, -1, 0, 0.5},
      {0.5, 0.5, 0, 0, 0.75},
      {0.7, 1, 0, 0, 1.0},
      {0.5, -1, 0, 0, 0.0},
      {0.25, 0, 0, 0.5, 0.48205080756887719},  // -(0.5 + 0.125 - sqrt(0.75)) / 0.5
      {0.5, 0, 0, -1, 0.08578643762690485},    // 1.5 - sqrt(2)
      {0.25, 0, 0, 1, 0.75},                   // 2 sqrt(x) - x
  };
  for (const Case& c : cases)
    EXPECT_NEAR(ToneShape(c.x, c.brightness, c.contrast, c.bend), c.expected, 1e-15)
        << c.x << " " << c.brightness << " " << c.contrast << " " << c.bend;
}

TEST(ToneShape, BendKeepsTheEnds) {
  for (double bend : {-1.0, -0.6, -0.1, 0.2, 0.7, 1.0}) {
    EXPECT_NEAR(ToneShape(0.0, 0, 0, bend), 0.0, 1e-12) << bend;
    EXPECT_NEAR(ToneShape(1.0, 0, 0, bend), 1.0, 1e-12) << bend;
  }
}

TEST(ToneShapeTable, IdentityAndRoundedValues) {
  const std::vector<uint8_t> identity8 = fx::ToneShapeTable<uint8_t>(0, 0, 0);
  ASSERT_EQ(identity8.size(), 256u);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(identity8[i], i);
  const std::vector<uint16_t> identity16 = fx::ToneShapeTable<uint16_t>(0, 0, 0);
  ASSERT_EQ(identity16.size(), 32769u);
  for (int i = 0; i < 32769; ++i) ASSERT_EQ(identity16[i], i);

  // trunc(ToneShape(i / L) * L + 0.5), worked by hand.
  struct Case {
    double brightness, contrast, bend;
    int index, expected;
  };
  const Case cases8[] = {
      {0.5, 0, 0, 100, 150},    // 150.5
      {0.5, 0, 0, 170, 255},    // 1.0
      {0, -0.5, 0, 100, 114},   // 114.25
      {0, 0, 0.5, 64, 123},     // 123.75
      {0, 0, 0.5, 200, 233},    // 233.27
      {0, 0, -0.5, 64, 27},     // 27.21
      {0.2, 0.3, -0.4, 50, 0},  // clamped to 0, + 0.5
      {0, 1, 0, 127, 0},        // threshold
      {0, 1, 0, 128, 255},
  };
  for (const Case& c : cases8) {
    std::array<uint8_t, 256> t{};
    fx::FillToneShapeTable<uint8_t>(c.brightness, c.contrast, c.bend, t);
    EXPECT_EQ(t[c.index], c.expected) << c.brightness << " " << c.contrast << " " << c.bend;
  }
  const Case cases16[] = {
      {0.5, 0, 0, 10000, 15000},   // 15000.5
      {0, -0.5, 0, 20000, 18192},  // 18192.5
      {0, 0, 0.5, 8192, 15796},    // 15796.34
      {0.2, 0.3, -0.4, 12345, 4818}, {0, 0, 0.5, 32768, 32768},
  };
  for (const Case& c : cases16)
    EXPECT_EQ(fx::ToneShapeTable<uint16_t>(c.brightness, c.contrast, c.bend)[c.index], c.expected)
        << c.brightness << " " << c.contrast << " " << c.bend;
}

// --------------------------------------------------------- linear light

TEST(LinearTables, ValuesAtKeyIndexes) {
  // The sRGB transfer worked in double precision; the expected entries lie
  // at least 0.02 from a whole number, beyond what single precision moves.
  const fx::LinearTables& tables = fx::LinearTables::Get();
  EXPECT_EQ(&tables, &fx::LinearTables::Get());
  const auto to8 = tables.ToLinear<uint8_t>();
  EXPECT_EQ(to8[0], 0);
  EXPECT_EQ(to8[10], 99);     // linear segment, 99.46
  EXPECT_EQ(to8[128], 7073);  // 7073.32
  EXPECT_EQ(to8[200], 18926);
  EXPECT_EQ(to8[254], 32476);
  EXPECT_EQ(to8[255], 32768);
  const auto to16 = tables.ToLinear<uint16_t>();
  EXPECT_EQ(to16[0], 0);
  EXPECT_EQ(to16[100], 7);       // 7.74
  EXPECT_EQ(to16[5000], 662);    // 662.11
  EXPECT_EQ(to16[16384], 7013);  // 7013.70
  EXPECT_EQ(to16[30000], 26820);
  EXPECT_EQ(to16[32768], 32768);
  const auto from8 = tables.FromLinear<uint8_t>();
  const auto from16 = tables.FromLinear<uint16_t>();
  EXPECT_EQ(from8[0], 0);
  EXPECT_EQ(from16[0], 0);
  EXPECT_EQ(from8[1000], 48);  // 48.83
  EXPECT_EQ(from16[1000], 6275);
  EXPECT_EQ(from8[16384], 187);
  EXPECT_EQ(from16[16384], 24096);
  EXPECT_EQ(from8[30000], 245);
  EXPECT_EQ(from16[30000], 31519);
}

// White through linear light stays white at both depths, although the
// transfer formula at 1.0 gives 1.055 - 0.055, a hair below 1.
TEST(LinearTables, FullScaleRoundTripsToFullScale) {
  const fx::LinearTables& tables = fx::LinearTables::Get();
  const auto from8 = tables.FromLinear<uint8_t>();
  const auto from16 = tables.FromLinear<uint16_t>();
  EXPECT_EQ(from8[32768], 255);
  EXPECT_EQ(from16[32768], 32768);
  EXPECT_EQ(from8[32767], 254);  // only full scale itself is pinned
  EXPECT_EQ(from16[32767], 32767);
  EXPECT_EQ(from8[tables.ToLinear<uint8_t>()[255]], 255);
  EXPECT_EQ(from16[tables.ToLinear<uint16_t>()[32768]], 32768);
}

// Truncation at both ends: an 8-bit value through linear light and back
// keeps its value or loses one level, never more.
TEST(LinearTables, EightBitRoundTripLosesAtMostOneLevel) {
  const fx::LinearTables& tables = fx::LinearTables::Get();
  const auto to8 = tables.ToLinear<uint8_t>();
  const auto from8 = tables.FromLinear<uint8_t>();
  EXPECT_EQ(from8[to8[0]], 0);
  for (int v = 1; v < 256; ++v) {
    const int back = from8[to8[v]];
    EXPECT_TRUE(back == v || back == v - 1) << v << " -> " << back;
  }
}

TEST(LinearTables, RasterConversion) {
  const fx::LinearTables& tables = fx::LinearTables::Get();
  fx::RasterRef source = fx::MakeRaster(3, 2, 4, 1);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int c = 0; c < 4; ++c)
        source->Pixel(x, y)[c] = static_cast<uint8_t>(40 * x + 100 * y + c);
  fx::RasterRef linear = fx::MakeRaster(3, 2, 4, 2);
  linear->Fill(0);
  // Only the right two columns of the bottom row, alpha included.
  fx::ToLinear(*source, *linear, {1, 1, 2, 3});
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int c = 0; c < 4; ++c) {
        const uint16_t expected =
            (y == 1 && x >= 1) ? tables.ToLinear<uint8_t>()[source->Pixel(x, y)[c]] : 0;
        EXPECT_EQ(linear->RowAs<uint16_t>(y)[4 * x + c], expected) << x << "," << y << "," << c;
      }

  // Into a raster of the area's size, with rows beyond the source clipped.
  fx::RasterRef area = fx::MakeRaster(2, 2, 4, 2);
  area->Fill(0xFF);
  fx::ToLinear(*source, {1, 1, 3, 3}, *area, 0, 0);
  EXPECT_EQ(area->RowAs<uint16_t>(0)[0], tables.ToLinear<uint8_t>()[source->Pixel(1, 1)[0]]);
  EXPECT_EQ(area->RowAs<uint16_t>(0)[7], tables.ToLinear<uint8_t>()[source->Pixel(2, 1)[3]]);
  EXPECT_EQ(area->RowAs<uint16_t>(1)[0], 0xFFFF);  // source row 2 does not exist

  // Back to 8-bit, and in place at 16-bit; stray samples above full scale
  // read the full-scale entry.
  fx::RasterRef eight = fx::MakeRaster(3, 2, 4, 1);
  eight->Fill(0);
  fx::FromLinear(*linear, *eight, {1, 1, 2, 3});
  EXPECT_EQ(eight->Pixel(2, 1)[1], tables.FromLinear<uint8_t>()[linear->RowAs<uint16_t>(1)[9]]);
  EXPECT_EQ(eight->Pixel(0, 1)[0], 0);

  linear->RowAs<uint16_t>(0)[0] = 16384;
  linear->RowAs<uint16_t>(0)[1] = 65535;
  fx::FromLinear(*linear, *linear, linear->Bounds());
  EXPECT_EQ(linear->RowAs<uint16_t>(0)[0], 24096);
  EXPECT_EQ(linear->RowAs<uint16_t>(0)[1], tables.FromLinear<uint16_t>()[32768]);

  EXPECT_THROW(fx::ToLinear(*source, *eight, source->Bounds()), std::invalid_argument);
  EXPECT_THROW(fx::FromLinear(*eight, *source, source->Bounds()), std::invalid_argument);
  fx::RasterRef grey = fx::MakeRaster(3, 2, 1, 2);
  EXPECT_THROW(fx::ToLinear(*source, *grey, source->Bounds()), std::invalid_argument);
}

}  // namespace
