// Filter and gel catalogues.
#include "effects/gel_catalogues.h"

#include <array>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/gel_filter.h"
#include "effects/grad_stage.h"
#include "imaging/raster.h"

namespace fx::effects {
namespace {

using gels::GelRow;

inline constexpr const char* kViewItems[] = {"Output", "Grad", "Original"};
// The Presets list notifies its changes and carries two presentation bits.
inline constexpr uint32_t kPresetListFlags = 0x310;
// Set on the input while the view shows the grad.
inline constexpr uint32_t kShowsGrad = 0x20000;

// The 19 parameters; the catalogues differ in the group's label and in the
// Presets list, whose default is the first catalogue row.
constexpr std::array<ParamSpec, 19> GelParams(const char* groupLabel, std::span<const char* const> presets) {
  return Join(Rows({
                  Image("input", "Input"),
                  List("view", "View", kViewItems),
                  Group("Gels", groupLabel, true).Flags(kPlainGroup),
                  List("presets", "Presets", presets, 1).Flags(kPresetListFlags),
                  Colour("color", "Color", {254 / 255.0, 203 / 255.0, 121 / 255.0}),
                  Range("opacity", "Opacity", 0, 100, 100),
                  Range("highlights", "Preserve Highlights", 0, 100, 50),
                  Range("exposure", "Exposure Compensation", 0, 100, 0),
                  End().Flags(kPlainGroup),
              }),
              GelGradGroup(true));
}

// A catalogue's filter over the image, optionally confined to a grad that
// also darkens like a neutral-density grad.
class GelCatalogue : public Effect {
 public:
  enum { kInput, kView, kGels, kPresets, kColor, kOpacity, kHighlights, kExposure, kGelsEnd, kGrad };
  enum View { kOutput, kGradView, kOriginal };

  GelCatalogue(const EffectType& type, std::span<const GelRow> rows) : Effect(type), rows_(rows) {}

  bool IsActive() const {
    switch (ListIndex(kView)) {
      case kOutput: {
        const GradStage grad = GradStage::Read(*this, kGrad);
        return RangeValue(kOpacity) > 0 || (grad.enabled && grad.nd > 0);
      }
      case kGradView:
        return true;
      default:
        return false;
    }
  }

  void BeginRender(RenderInfo&) {
    gel_.Load(FilterColour(), Percent(kOpacity), Percent(kHighlights), Percent(kExposure));
    SetFlagBit(Param(kInput), kShowsGrad, ListIndex(kView) == kGradView);
  }

  void ParameterChanged(int index) {
    if (index == kPresets) SetEnabled(Param(kColor), ListIndex(kPresets) == 0);
    GradStage::ParameterChanged(*this, kGrad, index);
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    CopyArea(source, *info.destination, info.area);
    const int32_t view = ListIndex(kView);
    if (view == kOriginal) return;
    if (view == kOutput) gel_.Apply(*info.destination, info.area);
    GradStage::Read(*this, kGrad).Apply(source, info, view == kGradView);
  }

 private:
  // Row Presets - 1, or the custom colour for "Custom".
  Rgb FilterColour() const {
    const int32_t preset = ListIndex(kPresets);
    if (preset <= 0 || preset > static_cast<int32_t>(rows_.size())) return ColourValue(kColor);
    const GelRow& row = rows_[static_cast<std::size_t>(preset - 1)];
    return {row.red, row.green, row.blue};
  }

  std::span<const GelRow> rows_;
  GelFilter gel_;
};

// The class bound to one catalogue.
template <const auto& kRows>
class CatalogueOf final : public GelCatalogue {
 public:
  explicit CatalogueOf(const EffectType& type) : GelCatalogue(type, kRows) {}
};

// Per catalogue: its parameter table, its effect type (names from the
// catalogue of effects) and its class.
#define OVRA_GEL_CATALOGUE(Name, groupLabel)                                              \
  inline constexpr auto k##Name##Params = GelParams(groupLabel, gels::k##Name##Presets);  \
  static_assert(ValidTable(k##Name##Params));                                             \
  inline constexpr EffectType k##Name##Type = catalogue::Type(#Name, k##Name##Params, 0); \
  using Name##Effect = CatalogueOf<gels::k##Name##Rows>;

OVRA_GEL_CATALOGUE(ColorCompensating, "Filters")
OVRA_GEL_CATALOGUE(ColorConversion, "Filters")
OVRA_GEL_CATALOGUE(GamCineFilters, "Gels")
OVRA_GEL_CATALOGUE(GamColor, "Gels")
OVRA_GEL_CATALOGUE(GamNakedCosmetics, "Gels")
OVRA_GEL_CATALOGUE(LGels, "Gels")
OVRA_GEL_CATALOGUE(LightBalancing, "Filters")
OVRA_GEL_CATALOGUE(PhotoFilters, "Filters")
OVRA_GEL_CATALOGUE(RoscoCalcolor, "Gels")
OVRA_GEL_CATALOGUE(RoscoCinegel, "Gels")
OVRA_GEL_CATALOGUE(RoscoCinelux, "Gels")
OVRA_GEL_CATALOGUE(RoscoVelante, "Gels")
#undef OVRA_GEL_CATALOGUE

}  // namespace

const EffectRoutines& kColorCompensating = RoutinesOf<ColorCompensatingEffect, kColorCompensatingType>;
const EffectRoutines& kColorConversion = RoutinesOf<ColorConversionEffect, kColorConversionType>;
const EffectRoutines& kGamCineFilters = RoutinesOf<GamCineFiltersEffect, kGamCineFiltersType>;
const EffectRoutines& kGamColor = RoutinesOf<GamColorEffect, kGamColorType>;
const EffectRoutines& kGamNakedCosmetics = RoutinesOf<GamNakedCosmeticsEffect, kGamNakedCosmeticsType>;
const EffectRoutines& kLGels = RoutinesOf<LGelsEffect, kLGelsType>;
const EffectRoutines& kLightBalancing = RoutinesOf<LightBalancingEffect, kLightBalancingType>;
const EffectRoutines& kPhotoFilters = RoutinesOf<PhotoFiltersEffect, kPhotoFiltersType>;
const EffectRoutines& kRoscoCalcolor = RoutinesOf<RoscoCalcolorEffect, kRoscoCalcolorType>;
const EffectRoutines& kRoscoCinegel = RoutinesOf<RoscoCinegelEffect, kRoscoCinegelType>;
const EffectRoutines& kRoscoCinelux = RoutinesOf<RoscoCineluxEffect, kRoscoCineluxType>;
const EffectRoutines& kRoscoVelante = RoutinesOf<RoscoVelanteEffect, kRoscoVelanteType>;

std::span<const GelCatalogueEntry> GelCatalogueEffects() {
  static const GelCatalogueEntry kEntries[] = {
      {"ColorCompensating", &kColorCompensating, gels::kColorCompensatingRows},
      {"ColorConversion", &kColorConversion, gels::kColorConversionRows},
      {"GamCineFilters", &kGamCineFilters, gels::kGamCineFiltersRows},
      {"GamColor", &kGamColor, gels::kGamColorRows},
      {"GamNakedCosmetics", &kGamNakedCosmetics, gels::kGamNakedCosmeticsRows},
      {"LGels", &kLGels, gels::kLGelsRows},
      {"LightBalancing", &kLightBalancing, gels::kLightBalancingRows},
      {"PhotoFilters", &kPhotoFilters, gels::kPhotoFiltersRows},
      {"RoscoCalcolor", &kRoscoCalcolor, gels::kRoscoCalcolorRows},
      {"RoscoCinegel", &kRoscoCinegel, gels::kRoscoCinegelRows},
      {"RoscoCinelux", &kRoscoCinelux, gels::kRoscoCineluxRows},
      {"RoscoVelante", &kRoscoVelante, gels::kRoscoVelanteRows},
  };
  return kEntries;
}

}  // namespace fx::effects
