// Photographic grain: independent noise per channel (colour grain) or one
// noise plane that lightens and darkens all channels together (monochrome
// grain), scaled per pixel by a film-response curve over the luminance.
//
// Deterministic by construction: noise comes from our own linear
// congruential generator, reseeded for every plane from the plane and tile
// index only, so the same image, settings, scale and tiling give the same
// grain. Grain of one pixel is generated per tile; larger grain comes from
// reduced noise planes built once per render (at tile 0) and enlarged
// bilinearly onto each tile.
//
// Typical use by an effect, before each render:
//   grain.SetSizes(...); grain.SetSoftness(...); grain.SetAmounts(...);
//   grain.SetResponse(...);                      // or UpdateFromGroup(values)
// and in each render of a tile:
//   grain.SetScale(info.scaleX, info.scaleY);
//   grain.Render(*info.destination, info.area, tile, monochrome);
#pragma once

#include <array>
#include <cstdint>

#include "imaging/quad_warp.h"
#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx {

// The generator: state = state x 214013 + 2531011 (mod 2^32), output
// (state >> 16) & 32767; a noise byte is output / 128 (0..255).
class GrainRandom {
 public:
  explicit GrainRandom(uint32_t seed) : state_(seed) {}
  int32_t Next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int32_t>((state_ >> 16) & 32767u);
  }
  uint8_t NextByte() { return static_cast<uint8_t>(Next() / 128); }

 private:
  uint32_t state_;
};

// The neutral noise sample: grain adds nothing where the noise is 127.
inline constexpr uint8_t kNeutralGrain = 127;

// Fills a one-channel 8-bit raster with noise bytes, row by row, from a
// generator seeded with seed. A raster of width 1 or height 1 is filled with
// the neutral 127 instead.
void FillGrainNoise(Raster& plane, uint32_t seed);

// What a render tells the grain about the tile it draws.
struct GrainTile {
  int32_t imageWidth = 0;  // the whole image at the current scale
  int32_t imageHeight = 0;
  Origin origin;          // whole-image position of the rect's top-left pixel
  int32_t tileIndex = 0;  // negative counts as 0
  int32_t tileCount = 1;
};

class FilmGrain {
 public:
  // The values of the shared grain parameter group, in its units: sizes in
  // image pixels, amounts and the response in percent, softness as a radius.
  struct GroupValues {
    std::array<double, 3> size{1, 1, 1};
    std::array<double, 3> amount{15, 15, 15};
    std::array<double, 3> softness{0, 0, 0};
    double position = 50;
    double range = 80;
    double minimum = 20;
  };

  FilmGrain();
  FilmGrain(const FilmGrain&) = delete;
  FilmGrain& operator=(const FilmGrain&) = delete;

  // Each setter marks the generator dirty: the planes and the response table
  // are rebuilt at the next tile 0. Values a parameter could not hold (NaN,
  // infinities, far out of range) are made safe: amounts and response values
  // are clamped to 0..1 after the percent conversion, sizes and softness to
  // 0..1000.
  void SetSizes(double r, double g, double b);
  void SetAmounts(double r, double g, double b);  // percent
  void SetSoftness(double r, double g, double b);
  void SetResponse(double position, double range, double minimum);  // percent
  // All twelve values at once; true when any differed from those held.
  bool UpdateFromGroup(const GroupValues& values);
  // The same size, amount (percent) and softness for the three channels;
  // true when any differed.
  bool SetUniform(double size, double amount, double softness);
  // The render's scales; a change marks the generator dirty.
  void SetScale(double scaleX, double scaleY);
  // The render's blur pass count, kept as given (grain softening always
  // runs a single box pass).
  void SetPasses(int32_t passes) { passes_ = passes; }

  // The largest of 0 and the three amounts (fractions).
  double MaxAmount() const;
  // Whether any amount is above 0.
  bool Active() const { return active_; }

  // Adds grain to rect of a four-channel raster in place. At tile 0 of a
  // render a dirty generator rebuilds its reduced planes and response table;
  // after the last tile (tileCount = tileIndex + 1) the planes are released.
  // Monochrome grain uses plane 0 and the red amount only.
  void Render(Raster& raster, const Rect& rect, const GrainTile& tile, bool monochrome);

  // For inspection.
  const std::array<uint8_t, 256>& ResponseTable() const { return responseTable_; }
  const Raster* Plane(int b) const { return planes_[b].get(); }
  bool Dirty() const { return dirty_; }
  double Size(int b) const { return size_[b]; }
  double Amount(int b) const { return amount_[b]; }
  float Softness(int b) const { return softness_[b]; }
  int32_t Passes() const { return passes_; }

 private:
  // Grain cell of plane b in pixels at the current scale, at least 1.
  int32_t CellX(int b) const;
  int32_t CellY(int b) const;
  void Rebuild(const GrainTile& tile, int planes);
  void BuildPlane(int b, const GrainTile& tile, uint32_t seed);
  void BuildResponseTable();
  void Soften(Raster& plane, int b) const;
  void MakeNoise(int b, const GrainTile& tile, Raster& noise);

  int32_t tileIndex_ = 1;
  double scaleX_ = 1.0;
  double scaleY_ = 1.0;
  double size_[3] = {1.0, 1.0, 1.0};
  double amount_[3] = {0.15, 0.15, 0.15};
  float softness_[3] = {0, 0, 0};
  double responsePosition_ = 0.5;
  double responseRange_ = 0.8;
  double responseMinimum_ = 0.2;
  std::array<uint8_t, 256> responseTable_{};
  RasterRef planes_[3];
  RasterRef noise_[3];  // per-tile noise, reused between the tiles of a render
  int32_t passes_ = 0;
  bool active_ = true;
  bool dirty_ = true;
};

}  // namespace fx
