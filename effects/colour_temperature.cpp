// Color Temperature: light sources, the colour matching functions and the
// filter factors between two colour temperatures.
#include "effects/colour_tone.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <string_view>
#include <vector>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/colour_tone_common.h"
#include "effects/gel_filter.h"
#include "effects/grad_stage.h"
#include "effects/selection_matte.h"
#include "effects/tone_range.h"
#include "imaging/colour.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/tone_curve.h"

namespace fx::effects {
namespace {

using namespace tone;

// ---------------------------------------------------------------- Color Temperature

// Light sources and their colour temperatures, as photographers' tables
// list them (the Kelvin is repeated in each name). Row 0 stands for the
// "Destination Kelvin" parameter.
inline constexpr LightSource kLightSources[] = {
    {"Custom", 3200},
    {"Match Flame (1700K)", 1700},
    {"Candle Flame (1850K)", 1850},
    {"Hefner Lamp (1880K)", 1880},
    {"Harcourt Pentane Lamp (1920K)", 1920},
    {"Standard British Candle (1930K)", 1930},
    {"Sunlight-Sunrise or Sunset (2000K)", 2000},
    {"Incandescent Carbon-4 watts\\candle (2080K)", 2080},
    {"High Pressure Sodium-Lucalox\\Lumalux (2100K)", 2100},
    {"Incandescent Tungsten-1.25 watts\\candle (2400K)", 2400},
    {"Acetylene Lamp  (2415K)", 2415},
    {"40watt-general service  (2650K)", 2650},
    {"Fluorescent-Incandescent  (2700K)", 2700},
    {"75watt-general service  (2820K)", 2820},
    {"100watt-general service  (2900K)", 2900},
    {"Fluorescent-Deluxe Warm White  (2950K)", 2950},
    {"Tungsten-Gas Filled Lamps:200-500W  (2980K)", 2980},
    {"200watt-general service  (2980K)", 2980},
    {"Tungsten-Gas Filled Lamps:1000W  (2990K)", 2990},
    {"Fluorescent-Warm White (3050K)", 3050},
    {"Incandescent-Standard & Tungsten\\Halogen (3200K)", 3200},
    {"CP Gas Filled (3350K)", 3350},
    {"Carbon Arc-225ABrute-Yellow Flame\\YF 101 Filter (3350K)", 3350},
    {"Photoflood (3400K)", 3400},
    {"Fluorescent-White (3500K)", 3500},
    {"Mercury Vapor-Warm Deluxe (3500K)", 3500},
    {"Sunlight-One Hour After Sunrise (3500K)", 3500},
    {"Fluorescent-Natural White (3700K)", 3700},
    {"Metal Halide-Metalarc C (3800K)", 3800},
    {"Clear Aluminum Wire-Filled Flash (3800K)", 3800},
    {"Mercury Vapor-White Deluxe (4000K)", 4000},
    {"Crater of Carbon Arc (4000K)", 4000},
    {"Fluorescent-Deluxe Cool White (4100K)", 4100},
    {"Metal Halide Additive AC Arc-CSI (4200K)", 4200},
    {"Clear Zirconium Wire-Filled Flash (4200K)", 4200},
    {"Fluorescent-Cool White (4300K)", 4300},
    {"Sunlight-Early Morning\\Late Afternoon (4300K)", 4300},
    {"Daylight Blue Photoflood (4800K)", 4800},
    {"Flashcube-Magicube or Flipflash (4950K)", 4950},
    {"White Flame Carbon Arc (5000K)", 5000},
    {"Carbon Arc-225ABrute-White Flame\\Y-1 Filter (5100K)", 5100},
    {"Fluorescent-Design White (5200K)", 5200},
    {"Sunlight-mean noon (5400K)", 5400},
    {"Photographic Daylight (5500K)", 5500},
    {"High Intensity Carbon Arc-sun arc (5500K)", 5500},
    {"Metal Halide Additive AC Arc-HMI (5600K)", 5600},
    {"Metal Halide Additive AC Arc-CID  (5600K)", 5600},
    {"Carbon Arc-225ABrute-White Flame\\No Filter (5800K)", 5800},
    {"Sunlight-Midsummer (5800K)", 5800},
    {"Mercury Vapor-Clear Mercury (5900K)", 5900},
    {"Metal Halide-Multi Arc\\Metal Vapor (5900K)", 5900},
    {"Xenon High Pressure DC Short Arc (6000K)", 6000},
    {"Overcast Sky (6000K)", 6000},
    {"Fluorescent-Daylight (6500K)", 6500},
    {"Average Summer Daylight (6500K)", 6500},
    {"Light Summer Shade (7100K)", 7100},
    {"Average Summer Shade (8000K)", 8000},
    {"Partly Cloudy Sky (8000K)", 8000},
    {"Summer Skylight (9500K)", 9500},
    {"Skylight (12000K)", 12000},
};
static_assert(std::size(kLightSources) == 60);

// The Kelvin written at the end of a name, "(...K)", or -1.
constexpr int32_t KelvinInName(std::string_view name) {
  if (name.size() < 3 || name.substr(name.size() - 2) != "K)") return -1;
  const std::size_t open = name.rfind('(');
  if (open == std::string_view::npos) return -1;
  int32_t k = 0;
  for (std::size_t i = open + 1; i + 2 < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    k = k * 10 + (name[i] - '0');
  }
  return k;
}
constexpr bool NamesCarryTheirKelvin() {
  if (kLightSources[0].kelvin != 3200 || KelvinInName(kLightSources[0].name) != -1) return false;
  for (std::size_t i = 1; i < std::size(kLightSources); ++i)
    if (KelvinInName(kLightSources[i].name) != kLightSources[i].kelvin) return false;
  return true;
}
static_assert(NamesCarryTheirKelvin());

inline constexpr auto kLightSourceNames = [] {
  std::array<const char*, std::size(kLightSources)> names{};
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = kLightSources[i].name;
  return names;
}();

// The 10-degree RGB colour-matching functions of Stiles and Burch (1959),
// primaries at 645.16, 526.32 and 444.44 nm, 390..730 nm in 5 nm steps, as
// the standard tabulations of colour-matching data publish them.
inline constexpr ColourMatchingRow kStilesBurch10[] = {
    {390, 1.83970E-03, -4.53930E-04, 1.21520E-02}, {395, 4.61530E-03, -1.04640E-03, 3.11100E-02},
    {400, 9.62640E-03, -2.16890E-03, 6.23710E-02}, {405, 1.89790E-02, -4.43040E-03, 1.31610E-01},
    {410, 3.08030E-02, -7.20480E-03, 2.27500E-01}, {415, 4.24590E-02, -1.25790E-02, 3.58970E-01},
    {420, 5.16620E-02, -1.66510E-02, 5.23960E-01}, {425, 5.28370E-02, -2.12400E-02, 6.85860E-01},
    {430, 4.42870E-02, -1.99360E-02, 7.96040E-01}, {435, 3.22200E-02, -1.60970E-02, 8.94590E-01},
    {440, 1.47630E-02, -7.34570E-03, 9.63950E-01}, {445, -2.33920E-03, 1.36900E-03, 9.98140E-01},
    {450, -2.91300E-02, 1.96100E-02, 9.18750E-01}, {455, -6.06770E-02, 4.34640E-02, 8.24870E-01},
    {460, -9.62240E-02, 7.09540E-02, 7.85540E-01}, {465, -1.37590E-01, 1.10220E-01, 6.67230E-01},
    {470, -1.74860E-01, 1.50880E-01, 6.10980E-01}, {475, -2.12600E-01, 1.97940E-01, 4.88290E-01},
    {480, -2.37800E-01, 2.40420E-01, 3.61950E-01}, {485, -2.56740E-01, 2.79930E-01, 2.66340E-01},
    {490, -2.77270E-01, 3.33530E-01, 1.95930E-01}, {495, -2.91250E-01, 4.05210E-01, 1.47300E-01},
    {500, -2.95000E-01, 4.90600E-01, 1.07490E-01}, {505, -2.97060E-01, 5.96730E-01, 7.67140E-02},
    {510, -2.67590E-01, 7.01840E-01, 5.02480E-02}, {515, -2.17250E-01, 8.08520E-01, 2.87810E-02},
    {520, -1.47680E-01, 9.10760E-01, 1.33090E-02}, {525, -3.51840E-02, 9.84820E-01, 2.11700E-03},
    {530, 1.06140E-01, 1.03390E+00, -4.15740E-03}, {535, 2.59810E-01, 1.05380E+00, -8.30320E-03},
    {540, 4.19760E-01, 1.05120E+00, -1.21910E-02}, {545, 5.92590E-01, 1.04980E+00, -1.40390E-02},
    {550, 7.90040E-01, 1.03680E+00, -1.46810E-02}, {555, 1.00780E+00, 9.98260E-01, -1.49470E-02},
    {560, 1.22830E+00, 9.37830E-01, -1.46130E-02}, {565, 1.47270E+00, 8.80390E-01, -1.37820E-02},
    {570, 1.74760E+00, 8.28350E-01, -1.26500E-02}, {575, 2.02140E+00, 7.46860E-01, -1.13560E-02},
    {580, 2.27240E+00, 6.49300E-01, -9.93170E-03}, {585, 2.48960E+00, 5.63170E-01, -8.41480E-03},
    {590, 2.67250E+00, 4.76750E-01, -7.02100E-03}, {595, 2.80930E+00, 3.84840E-01, -5.74370E-03},
    {600, 2.87170E+00, 3.00690E-01, -4.27430E-03}, {605, 2.85250E+00, 2.28530E-01, -2.91320E-03},
    {610, 2.76010E+00, 1.65750E-01, -2.26930E-03}, {615, 2.59890E+00, 1.13730E-01, -1.99660E-03},
    {620, 2.37430E+00, 7.46820E-02, -1.50690E-03}, {625, 2.10540E+00, 4.65040E-02, -9.38220E-04},
    {630, 1.81450E+00, 2.63330E-02, -5.53160E-04}, {635, 1.52470E+00, 1.27240E-02, -2.79600E-04},
    {640, 1.25430E+00, 4.50330E-03, -7.62700E-05}, {645, 1.00760E+00, 9.66110E-05, -5.86380E-06},
    {650, 7.86420E-01, -1.96450E-03, 2.36350E-05}, {655, 5.96590E-01, -2.63270E-03, 3.84580E-05},
    {660, 4.43200E-01, -2.62620E-03, 4.38530E-05}, {665, 3.24100E-01, -2.30270E-03, 4.06040E-05},
    {670, 2.34550E-01, -1.87000E-03, 3.46610E-05}, {675, 1.68840E-01, -1.44240E-03, 2.83070E-05},
    {680, 1.20860E-01, -1.07550E-03, 2.25970E-05}, {685, 8.58110E-02, -7.90040E-04, 1.74370E-05},
    {690, 6.02600E-02, -5.67650E-04, 1.29600E-05}, {695, 4.14800E-02, -3.92740E-04, 9.12490E-06},
    {700, 2.81140E-02, -2.62310E-04, 6.10130E-06}, {705, 1.91170E-02, -1.75120E-04, 3.89480E-06},
    {710, 1.33050E-02, -1.21400E-04, 2.55980E-06}, {715, 9.40920E-03, -8.57310E-05, 1.84390E-06},
    {720, 6.51770E-03, -5.95250E-05, 1.31160E-06}, {725, 4.53770E-03, -4.15500E-05, 9.20050E-07},
    {730, 3.17420E-03, -2.92240E-05, 6.46640E-07},
};
static_assert(std::size(kStilesBurch10) == 69);

inline constexpr auto kColorTempParams =
    Join(Rows({
             Image("input", "Input"),
             List("view", "View", kGradViews),
             Group("Color", "Color Temperature", true).Flags(kPlainGroup),
             List("presets", "Presets", kLightSourceNames).Flags(kNotify | 0x300),
             Range("destKelvin", "Destination Kelvin", 1300, 14000, 3200),
             Range("sourceKelvin", "Source Kelvin", 1300, 14000, 3200),
             Range("opacity", "Opacity", 0, 100, 100),
             Range("highlights", "Preserve Highlights", 0, 100, 50),
             Range("exposure", "Exposure Compensation", 0, 100, 0),
             End().Flags(kPlainGroup),
         }),
         GelGradGroup(false));
static_assert(ValidTable(kColorTempParams));
static_assert(std::size(kColorTempParams) == 20);

// Marks a value written by the effect itself, for the dialog to show.
inline constexpr uint32_t kValueWritten = 0x20000000;

// The light of one colour temperature seen as another: per-channel factors
// from black-body spectra weighted by the colour-matching functions, laid
// over the image like a gel, optionally through a grad.
class ColorTemp final : public Effect {
 public:
  enum {
    kInput,
    kView,
    kColourGroup,
    kPresets,
    kDestination,
    kSourceKelvin,
    kOpacity,
    kHighlights,
    kExposure,
    kColourEnd,
    kGrad
  };
  using Effect::Effect;

  bool IsActive() const {
    switch (ListIndex(kView)) {
      case kGradOutput: {
        const GradStage g = GradStage::Read(*this, kGrad);
        return RangeValue(kOpacity) > 0 || (g.enabled && g.nd > 0);
      }
      case kShowGrad:
        return true;
      default:
        return false;
    }
  }

  // A chosen light source stands for "Destination Kelvin", which is greyed
  // out; an instance the registry holds writes the source's Kelvin into the
  // parameter instead and keeps it editable.
  void ParameterChanged(int index) {
    if (index == kPresets) {
      const int32_t preset = Preset();
      if (HeldByRegistry()) {
        if (preset > 0) {
          SetRange(Param(kDestination), kLightSources[preset].kelvin);
          SetFlagBit(Param(kDestination), kValueWritten, true);
        }
        SetEnabled(Param(kDestination), true);
      } else {
        SetEnabled(Param(kDestination), preset == 0);
      }
    }
    GradStage::ParameterChanged(*this, kGrad, index);
  }

  void Render(RenderInfo& info) {
    const int32_t view = ListIndex(kView);
    Raster& d = *info.destination;
    CopyArea(*Source(), d, info.area);
    if (view == kGradOriginal) return;
    if (view == kGradOutput) {
      const std::array<double, 3> f = Factors(RangeValue(kSourceKelvin), DestinationKelvin());
      WithDepth(d.Is16Bit(), [&]<class S>() { Filter<S>(d, info.area, f); });
    }
    GradStage::Read(*this, kGrad).Apply(*Source(), info, view == kShowGrad);
  }

  // A chosen light source is the destination for every instance; the
  // registry flag only changes what choosing it does to the parameter.
  double DestinationKelvin() const {
    const int32_t preset = Preset();
    return preset > 0 ? kLightSources[preset].kelvin : RangeValue(kDestination);
  }

 private:
  bool HeldByRegistry() const { return (flags & kHeldByRegistry) != 0; }
  int32_t Preset() const { return std::clamp<int32_t>(ListIndex(kPresets), 0, std::size(kLightSources) - 1); }

  // The factors of the last pair of temperatures, kept between bands.
  std::array<double, 3> Factors(double sourceKelvin, double destinationKelvin) {
    if (sourceKelvin != kelvin_[0] || destinationKelvin != kelvin_[1]) {
      factors_ = ColorTemperatureFactors(sourceKelvin, destinationKelvin);
      kelvin_ = {sourceKelvin, destinationKelvin};
    }
    return factors_;
  }

  // In place on the unfiltered image: the factors, the exposure
  // compensation, the opacity mix, then the highlights restored through the
  // highlight matte.
  template <class S>
  void Filter(Raster& d, const Rect& area, const std::array<double, 3>& factor) const {
    constexpr int32_t L = Depth<S>::L;
    const double e = Percent(kExposure);
    const int32_t o = static_cast<int32_t>(Percent(kOpacity) * L);
    const int32_t h = static_cast<int32_t>(Percent(kHighlights) * L);
    RasterRef mask;
    if (h > 0) mask = HighlightMask(d, area);
    ForRows(area, 16, [&](int32_t y) {
      S* p = d.RowAs<S>(y) + 4 * area.left;
      const S* m = mask ? mask->RowAs<S>(y) + area.left : nullptr;
      for (int32_t x = area.left; x < area.right; ++x, p += 4) {
        const int32_t P[3] = {p[0], p[1], p[2]};
        int32_t F[3];
        for (int c = 0; c < 3; ++c) F[c] = static_cast<int32_t>(std::min<double>(L, factor[c] * P[c]));
        if (e > 0) {
          const int32_t delta = Depth<S>::Luminance(P[0], P[1], P[2]) - Depth<S>::Luminance(F[0], F[1], F[2]);
          const int32_t k = static_cast<int32_t>(e * delta);
          for (int c = 0; c < 3; ++c) F[c] = Depth<S>::Clamp(F[c] + k);
        }
        if (o < L)
          for (int c = 0; c < 3; ++c) F[c] = ((L - o) * P[c] + o * F[c]) / L;
        if (m != nullptr) {
          const int32_t w = *m++ * h / L;
          if (w != 0)
            for (int c = 0; c < 3; ++c) F[c] = (F[c] * (L - w) + P[c] * w) / L;
        }
        for (int c = 0; c < 3; ++c) p[c] = Depth<S>::Clamp(F[c]);
      }
    });
  }

  std::array<double, 2> kelvin_{-1, -1};
  std::array<double, 3> factors_{1, 1, 1};
};
inline constexpr EffectType kColorTempType = catalogue::Type("ColorTemp", kColorTempParams, 0);

}  // namespace


std::span<const ColourMatchingRow> ColourMatchingFunctions() {
  return kStilesBurch10;
}
std::span<const LightSource> LightSources() {
  return kLightSources;
}

std::array<double, 3> ColorTemperatureFactors(double sourceKelvin, double destinationKelvin) {
  // Planck's law without its constant factor, over the wavelength in mm
  // (second radiation constant 14.3877 mm K); the cube, not the fifth power,
  // of the wavelength in micrometres.
  const auto radiance = [](double mm, double um, double kelvin) {
    return 1.0 / ((std::exp(14.3877 / (mm * kelvin)) - 1) * (um * um * um));
  };
  double destination[3] = {0, 0, 0}, source[3] = {0, 0, 0};
  for (const ColourMatchingRow& row : kStilesBurch10) {
    const double mm = row.nm * 1e-6;
    const double um = mm * 1000;
    const double pd = radiance(mm, um, destinationKelvin), ps = radiance(mm, um, sourceKelvin);
    const double w[3] = {row.r, row.g, row.b};
    for (int c = 0; c < 3; ++c) {
      destination[c] += pd * w[c];
      source[c] += ps * w[c];
    }
  }
  std::array<double, 3> ratio{};
  for (int c = 0; c < 3; ++c) {
    ratio[c] = destination[c] / source[c];
    // A temperature outside every sensible range could leave a sum at 0.
    if (!(ratio[c] > 0) || !std::isfinite(ratio[c])) ratio[c] = 0;
  }
  const double m = std::max({ratio[0], ratio[1], ratio[2]});
  std::array<double, 3> factor{};
  for (int c = 0; c < 3; ++c) {
    const double r = m > 0 ? ratio[c] / m : ratio[c];
    // To 16 bits, then to the 8-bit precision both depths use.
    const int32_t q16 = static_cast<int32_t>(65535 * r + 0.5);
    factor[c] = static_cast<int32_t>(q16 / 256.0 - 0.5) / 255.0;
  }
  return factor;
}

const EffectRoutines& kColorTemperature = RoutinesOf<ColorTemp, kColorTempType>;

}  // namespace fx::effects
