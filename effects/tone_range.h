// Colour correction by tonal range: a master hue, saturation, tone shape,
// per-channel gains and flash over the whole image, plus three tonal bands
// (shadows, midtones, highlights) whose own tone shape and gains are added
// in proportion to how strongly each pixel's luminance belongs to the band.
//
//   ToneRangeEngine engine;
//   engine.Configure({.hue = 20, .saturation = 10, .tone = {.contrast = 0.2}});
//   engine.ConfigureBand(ToneRangeEngine::kShadows, {.blue = 0.1});
//   engine.Prepare(info.is16Bit);                  // begin render
//   engine.Apply(source, destination, info.area);  // per band of the image
//
// The tables are rebuilt only when a setting changed since they were last
// built; each depth keeps its own.
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

// A tone shape (brightness, contrast, bend) and gains per channel, all
// fractions (-1..1 from the sliders' percentages).
struct ToneAdjustment {
  double brightness = 0;
  double contrast = 0;
  double bend = 0;
  double red = 0;
  double green = 0;
  double blue = 0;

  bool IsZero() const {
    return brightness == 0 && contrast == 0 && bend == 0 && red == 0 && green == 0 && blue == 0;
  }
  double Gain(int channel) const { return channel == 0 ? red : channel == 1 ? green : blue; }
  friend bool operator==(const ToneAdjustment&, const ToneAdjustment&) = default;
};

// The engine's master settings: hue in degrees, saturation in percent, the
// tone adjustment as fractions.
struct ToneMaster {
  double hue = 0;
  double saturation = 0;
  ToneAdjustment tone;
  friend bool operator==(const ToneMaster&, const ToneMaster&) = default;
};

// The flash: a colour (unit RGB) mixed into the master tables by amount
// (0..1).
struct ToneFlash {
  Rgb colour;
  double amount = 0;
  friend bool operator==(const ToneFlash& a, const ToneFlash& b) {
    return a.amount == b.amount && a.colour.r == b.colour.r && a.colour.g == b.colour.g &&
           a.colour.b == b.colour.b;
  }
};

class ToneRangeEngine {
 public:
  enum Band : int { kShadows, kMidtones, kHighlights, kBandCount };
  // Each band's centre and width until configured otherwise.
  static constexpr double kDefaultCentre[kBandCount] = {0.0, 0.5, 1.0};
  static constexpr double kDefaultWidth[kBandCount] = {0.8, 0.4, 0.8};

  void Configure(const ToneMaster& master);
  void ConfigureFlash(const ToneFlash& flash);
  // The band's adjustment; its centre and width are replaced only when they
  // are >= 0.
  void ConfigureBand(int band, const ToneAdjustment& adjustment, double centre = -1, double width = -1);

  // No setting would change a pixel: hue, saturation, the master and band
  // adjustments and the flash amount are all 0.
  bool IsPassThrough() const;

  // Builds the tables of the depth unless they are current (begin render).
  void Prepare(bool is16Bit);

  // destination = the engine applied to source over rect; source and
  // destination have the same coordinates and may be the same raster.
  // Alpha is kept.
  void Apply(const Raster& source, Raster& destination, const Rect& rect);

  // The band's weight at each source pixel's luminance as grey; alpha kept.
  void ShowBand(const Raster& source, Raster& destination, const Rect& rect, int band);

  double Centre(int band) const { return bands_[Index(band)].centre; }
  double Width(int band) const { return bands_[Index(band)].width; }

  // The tables as built for depth S (Prepare first): per channel the master
  // table and the offsets added before it, indexed by luminance (empty when
  // every band adjustment is 0).
  template <class S>
  std::span<const S> ChannelTable(int channel) const {
    return TablesOf<S>().channel[Index(channel, 3)];
  }
  template <class S>
  std::span<const int32_t> OffsetTable(int channel) const {
    return TablesOf<S>().offset[Index(channel, 3)];
  }

 private:
  struct BandSettings {
    double centre = 0;
    double width = 0;
    ToneAdjustment tone;
  };
  template <class S>
  struct Tables {
    bool current = false;
    std::array<std::vector<S>, 3> channel;
    std::array<std::vector<int32_t>, 3> offset;
  };

  static int Index(int i, int count = kBandCount) { return i < 0 ? 0 : (i >= count ? count - 1 : i); }
  void MarkDirty() { tables8_.current = tables16_.current = false; }
  bool BandsZero() const;

  template <class S>
  Tables<S>& TablesOf() {
    if constexpr (sizeof(S) == 1)
      return tables8_;
    else
      return tables16_;
  }
  template <class S>
  const Tables<S>& TablesOf() const {
    if constexpr (sizeof(S) == 1)
      return tables8_;
    else
      return tables16_;
  }
  template <class S>
  void Build();
  template <class S>
  void ApplyT(const Raster& source, Raster& destination, const Rect& rect);

  ToneMaster master_;
  ToneFlash flash_;
  std::array<BandSettings, kBandCount> bands_{{{kDefaultCentre[0], kDefaultWidth[0], {}},
                                               {kDefaultCentre[1], kDefaultWidth[1], {}},
                                               {kDefaultCentre[2], kDefaultWidth[2], {}}}};
  // The band weights, each cached until its centre or width changes.
  std::array<TonalSelector, kBandCount> weights_;
  Tables<uint8_t> tables8_;
  Tables<uint16_t> tables16_;
};

// Grey = weight[Y] for the luminance Y of each source pixel of rect; alpha
// kept, or full scale with fullAlpha. weight has kTableSize entries.
template <class S>
void ShowWeight(const Raster& source, Raster& destination, const Rect& rect, std::span<const S> weight,
                bool fullAlpha);

}  // namespace fx
