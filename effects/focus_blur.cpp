// Focus and blur effects: blurs that soften the image as a lens does.
#include "effects/focus_blur.h"

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/focus_common.h"
#include "imaging/raster.h"
#include "imaging/separable_blur.h"

namespace fx::effects {
namespace {

inline constexpr const char* kOutputOriginal[] = {"Output", "Original"};
// The blur's modes in list order.
inline constexpr const char* kQualityItems[] = {"Box", "Gaussian"};

// ------------------------------------------------------------------ Fast Blur

// The gang's three rows notify the effect so that the vertical blur can
// follow the horizontal one while ganged.
inline constexpr ParamSpec kFastBlurParams[] = {
    Image("input", "Input"),
    List("view", "View", kOutputOriginal),
    List("quality", "Quality", kQualityItems),
    Range("blurX", "Horizontal Blur", 0, 1000, 20).Flags(kNotify),
    Range("blurY", "Vertical Blur", 0, 1000, 20).Flags(kNotify),
    Bool("gang", "Gang", true).Flags(kNotify),
};
static_assert(ValidTable(kFastBlurParams));

// A uniform blur of the whole image, box or Gaussian.
class FastBlur final : public Effect {
 public:
  static constexpr int kView = RowOf(kFastBlurParams, "view");
  static constexpr int kQuality = RowOf(kFastBlurParams, "quality");
  static constexpr GangedBlur kBlur{RowOf(kFastBlurParams, "blurX"), RowOf(kFastBlurParams, "blurY"),
                                    RowOf(kFastBlurParams, "gang")};
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) == 0 && (kBlur.X(*this) > 0 || kBlur.Y(*this) > 0); }

  void ParameterChanged(int32_t index) { kBlur.Changed(*this, index); }

  // The blur's whole reach: every box pass, or the Gaussian's kernel.
  void ExpandRect(RenderInfo& info, Rect& rect) {
    if (!IsActive()) return;
    SeparableBlur blur;
    Configure(blur, info);
    rect = rect.Grown(blur.ReachY(), blur.ReachX());
  }

  void Render(RenderInfo& info) {
    Raster& d = *info.destination;
    CopyArea(*Source(), d, info.area);
    if (!IsActive()) return;
    Configure(blur_, info);
    blur_.Blur(d, info.area);
  }

 private:
  void Configure(SeparableBlur& blur, const RenderInfo& info) const {
    ConfigureBlur(blur, info, ListIndex(kQuality), kBlur.X(*this), kBlur.Y(*this));
  }

  SeparableBlur blur_;
};
inline constexpr EffectType kFastBlurType = catalogue::Type("FastBlur", kFastBlurParams, 0x0A);

}  // namespace

const EffectRoutines& kFastBlur = RoutinesOf<FastBlur, kFastBlurType>;

}  // namespace fx::effects
