// The gel engine: a coloured filter modelled as a per-channel transmission,
// laid over the image with an opacity, an exposure compensation that gives
// back part of the brightness the filter takes away, and a preservation of
// highlights that keeps the brightest parts at their unfiltered colour.
//
// The catalogue effects, Mono Tint, DayForNight and the warming stage of the
// warm mists each own one:
//
//   GelFilter gel_;                                   // a member of the effect
//   void BeginRender(RenderInfo&) { gel_.Load(colour, Percent(kOpacity), Percent(kHighlights),
//   Percent(kExposure)); } void Render(RenderInfo& info) { CopyArea(*Source(), *info.destination, info.area);
//                                   gel_.Apply(*info.destination, info.area); }
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "effects/selection_matte.h"
#include "framework/parameter.h"
#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx {

class GelFilter {
 public:
  // The transmission of R, G and B (0..1, single precision from here on) and
  // the three fractions 0..1. The transmission tables, table8_c[i] =
  // trunc(i x colour_c) and table16_c[i] likewise for i up to 32768, are
  // rebuilt only when the colour differs from the loaded one; the fractions
  // are replaced at every load. Values outside 0..1 are clamped, NaN counts
  // as 0.
  void Load(const Rgb& colour, double opacity, double highlights, double exposure);

  // In place over rect (clipped to the raster) of a four-channel raster that
  // holds the unfiltered image; alpha is kept. Nothing happens before the
  // first load. std::invalid_argument for a raster of another channel count.
  void Apply(Raster& destination, const Rect& rect);

  bool Loaded() const { return colour_[0] >= 0; }
  // The loaded colour as the tables were built from it.
  std::array<float, 3> Colour() const { return colour_; }
  float Opacity() const { return opacity_; }
  float Highlights() const { return highlights_; }
  float Exposure() const { return exposure_; }
  // Channel c's tables (empty before the first load).
  std::span<const uint8_t> Table8(int c) const;
  std::span<const uint16_t> Table16(int c) const;
  // How many times the tables have been built.
  int32_t TableBuilds() const { return tableBuilds_; }

 private:
  template <class S>
  struct Pass;
  template <class S>
  void ApplyT(Raster& destination, const Rect& rect);
  static void Rows8Avx2(const Pass<uint8_t>& pass, const int32_t* wide, Raster& raster, const Rect& rect,
                        int32_t top, int32_t bottom);
  template <class S>
  const S* TableOf(int c) const;

  // -1 until the first load, so that it always builds the tables.
  std::array<float, 3> colour_{-1.0f, -1.0f, -1.0f};
  std::array<std::array<uint8_t, 256>, 3> table8_{};
  std::vector<uint16_t> table16_;  // 3 x 32769, channel after channel
  // The 8-bit tables in 32-bit entries, for the vector loop's gathers.
  alignas(32) std::array<std::array<int32_t, 256>, 3> wide8_{};
  // The highlight weights by luminance, for the h they were built for.
  std::vector<int32_t> weights8_, weights16_;
  int32_t weights8For_ = -1, weights16For_ = -1;
  float exposure_ = 0;
  float opacity_ = 0;
  float highlights_ = 0;
  int32_t tableBuilds_ = 0;
};

}  // namespace fx
