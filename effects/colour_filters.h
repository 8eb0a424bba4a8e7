// The colour filters of the graduated and spot family: the 73-row table of
// named filter colours every presets list of the family shows, and the
// colour filter itself (a per-channel multiply by lookup tables, an exposure
// compensation, an opacity and a restore of highlights).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "framework/parameter.h"
#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx::grads {

struct ColourFilterRow {
  const char* name;
  Rgb colour;  // fractions of 255
};

// Row 0 is "Custom": its colour is the default of the "color" parameters.
inline constexpr int32_t kColourFilterCount = 73;
inline constexpr Rgb kCustomColour{254 / 255.0, 203 / 255.0, 122 / 255.0};

namespace detail {

// How the rows were made. Each family is a strength scale running from
// white at strength 0 through its known shades to its deepest row; every
// other row lies on that scale, linear in 8-bit values between the two
// known shades around it and rounded to the nearest value. Coral's 1/8 to
// 5 are one scale.
struct Shade {
  double strength;
  int32_t r, g, b;
};
struct Family {
  Shade shades[3];
  int32_t count;
};

inline constexpr Family Scale(Shade deepest) { return {{{0, 255, 255, 255}, deepest, {}}, 2}; }
inline constexpr Family Scale(Shade known, Shade deepest) { return {{{0, 255, 255, 255}, known, deepest}, 3}; }

inline constexpr Family kCranberry = Scale({1, 243, 174, 188}, {3, 196, 0, 90});
inline constexpr Family kTangerine = Scale({1, 254, 208, 158}, {3, 250, 140, 40});
inline constexpr Family kStraw = Scale({3, 240, 205, 120});
inline constexpr Family kTobacco = Scale({3, 228, 160, 36});
inline constexpr Family kChocolate = Scale({3, 140, 90, 55});
inline constexpr Family kPlum = Scale({3, 140, 60, 110});
inline constexpr Family kGrape = Scale({3, 110, 60, 150});
inline constexpr Family kTropicBlue = Scale({3, 0, 160, 220});
inline constexpr Family kCoral = Scale({5, 240, 110, 80});
inline constexpr Family kMagenta = Scale({5, 210, 30, 150});
inline constexpr Family kPink = Scale({5, 240, 120, 170});
inline constexpr Family kRed = Scale({5, 210, 30, 40});
inline constexpr Family kYellow = Scale({1, 255, 253, 232}, {5, 255, 215, 20});
inline constexpr Family kGreen = Scale({5, 70, 160, 70});
inline constexpr Family kCyan = Scale({5, 0, 175, 210});
inline constexpr Family kCoolBlue = Scale({5, 130, 170, 235});
inline constexpr Family kBlue = Scale({5, 0, 125, 197});

inline constexpr int32_t RoundHalfUp(double v) { return static_cast<int32_t>(v + 0.5); }

// The row at strength s of the family, as fractions of 255.
inline constexpr ColourFilterRow On(const char* name, const Family& f, double s) {
  int32_t k = 1;
  while (k + 1 < f.count && s > f.shades[k].strength) ++k;
  const Shade& a = f.shades[k - 1];
  const Shade& b = f.shades[k];
  const double t = (s - a.strength) / (b.strength - a.strength);
  const auto mix = [&](int32_t x, int32_t y) { return RoundHalfUp(x + (y - x) * t) / 255.0; };
  return {name, {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)}};
}

inline constexpr std::array<ColourFilterRow, kColourFilterCount> kRows = {{
    {"Custom", kCustomColour},
    On("Cranberry 1", kCranberry, 1),   On("Cranberry 2", kCranberry, 2),     On("Cranberry 3", kCranberry, 3),
    On("Tangerine 1", kTangerine, 1),   On("Tangerine 2", kTangerine, 2),     On("Tangerine 3", kTangerine, 3),
    On("Straw 1", kStraw, 1),           On("Straw 2", kStraw, 2),             On("Straw 3", kStraw, 3),
    On("Tobacco 1", kTobacco, 1),       On("Tobacco 2", kTobacco, 2),         On("Tobacco 3", kTobacco, 3),
    On("Chocolate 1", kChocolate, 1),   On("Chocolate 2", kChocolate, 2),     On("Chocolate 3", kChocolate, 3),
    On("Plum 1", kPlum, 1),             On("Plum 2", kPlum, 2),               On("Plum 3", kPlum, 3),
    On("Grape 1", kGrape, 1),           On("Grape 2", kGrape, 2),             On("Grape 3", kGrape, 3),
    On("Tropic Blue 1", kTropicBlue, 1), On("Tropic Blue 2", kTropicBlue, 2), On("Tropic Blue 3", kTropicBlue, 3),
    On("Coral 1/8", kCoral, 0.125),     On("Coral 1/4", kCoral, 0.25),        On("Coral 1/2", kCoral, 0.5),
    On("Coral 1", kCoral, 1),           On("Coral 2", kCoral, 2),             On("Coral 3", kCoral, 3),
    On("Coral 4", kCoral, 4),           On("Coral 5", kCoral, 5),
    On("Magenta 1", kMagenta, 1),       On("Magenta 2", kMagenta, 2),         On("Magenta 3", kMagenta, 3),
    On("Magenta 4", kMagenta, 4),       On("Magenta 5", kMagenta, 5),
    On("Pink 1", kPink, 1),             On("Pink 2", kPink, 2),               On("Pink 3", kPink, 3),
    On("Pink 4", kPink, 4),             On("Pink 5", kPink, 5),
    On("Red 1", kRed, 1),               On("Red 2", kRed, 2),                 On("Red 3", kRed, 3),
    On("Red 4", kRed, 4),               On("Red 5", kRed, 5),
    On("Yellow 1", kYellow, 1),         On("Yellow 2", kYellow, 2),           On("Yellow 3", kYellow, 3),
    On("Yellow 4", kYellow, 4),         On("Yellow 5", kYellow, 5),
    On("Green 1", kGreen, 1),           On("Green 2", kGreen, 2),             On("Green 3", kGreen, 3),
    On("Green 4", kGreen, 4),           On("Green 5", kGreen, 5),
    On("Cyan 1", kCyan, 1),             On("Cyan 2", kCyan, 2),               On("Cyan 3", kCyan, 3),
    On("Cyan 4", kCyan, 4),             On("Cyan 5", kCyan, 5),
    On("Cool Blue 1", kCoolBlue, 1),    On("Cool Blue 2", kCoolBlue, 2),      On("Cool Blue 3", kCoolBlue, 3),
    On("Cool Blue 4", kCoolBlue, 4),    On("Cool Blue 5", kCoolBlue, 5),
    On("Blue 1", kBlue, 1),             On("Blue 2", kBlue, 2),               On("Blue 3", kBlue, 3),
    On("Blue 4", kBlue, 4),             On("Blue 5", kBlue, 5),
}};

inline constexpr std::array<const char*, kColourFilterCount> kNames = [] {
  std::array<const char*, kColourFilterCount> names{};
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = kRows[i].name;
  return names;
}();

}  // namespace detail

inline constexpr const std::array<ColourFilterRow, kColourFilterCount>& kColourFilters = detail::kRows;
// The row names in order: the items of every "Presets" list of the family.
inline constexpr const std::array<const char*, kColourFilterCount>& kColourFilterNames = detail::kNames;


// The colour of row `index` (clamped into the table).
Rgb ColourFilterColour(int32_t index);

// The family's luminance at both depths: (9798 R + 19235 G + 3735 B) >> 15,
// the 8-bit path using the same weights on its 8-bit values.
constexpr int32_t FilterLuminance(int32_t r, int32_t g, int32_t b) {
  return (9798 * r + 19235 * g + 3735 * b) >> 15;
}

// The colour filter of Color Grad, Strip Grad and Color Spot.
class ColourFilter {
 public:
  // Rebuilds the tables when the colour differs from the loaded one:
  // trunc(i / 255 x c x 255) for 8 bits and trunc(i x 2^-15 x c x 32768)
  // for 16 bits, in double. Components are clamped to 0..1.
  void Load(const Rgb& colour);

  struct Settings {
    double opacity = 1;     // 0..1
    double highlights = 0;  // 0..1
    double exposure = 0;    // 0..1
  };

  // Over rect of destination, which holds the unfiltered image (the same
  // pixels as `unfiltered` there): each channel through its table, plus
  // trunc(e (Y before - Y after)) clamped when e != 0; mixed with the
  // unfiltered pixel by d = trunc(opacity x full) as (d F + (full - d) P) /
  // full (F itself at full opacity); then, when highlights > 0, the
  // unfiltered highlights restored through the highlight matte with
  // BlendWhereMasked. Alpha is never written. Nothing happens before a load.
  void Apply(const Raster& unfiltered, Raster& destination, const Rect& rect, const Settings& s) const;

  bool Loaded() const { return loaded_; }
  int32_t TableBuilds() const { return tableBuilds_; }
  std::span<const uint8_t> Table8(int c) const { return table8_[c]; }
  std::span<const uint16_t> Table16(int c) const { return table16_[c]; }

 private:
  template <class S>
  void ApplyT(const Raster& unfiltered, Raster& destination, const Rect& rect, const Settings& s) const;

  bool loaded_ = false;
  Rgb colour_;
  std::array<std::array<uint8_t, 256>, 3> table8_{};
  std::array<std::vector<uint16_t>, 3> table16_;
  int32_t tableBuilds_ = 0;
};

}  // namespace fx::grads
