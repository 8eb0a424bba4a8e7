// Colour and tone effects: pixel-by-pixel changes of colour and tone.
#include "effects/colour_tone.h"

#include <vector>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/tone_curve.h"

namespace fx::effects {
namespace {

inline constexpr const char* kOutputOriginal[] = {"Output", "Original"};

// ---------------------------------------------------------------- Bleach Bypass

inline constexpr ParamSpec kBleachBypassParams[] = {
    Image("background", "Background"),
    List("view", "View", kOutputOriginal),
    Range("amount", "Amount", 0, 100, 100).Flags(kPrincipal),
    Range("saturation", "Saturation", -100, 100, 0),
    Range("contrast", "Contrast", -100, 100, 0),
    Range("temperature", "Temperature", -100, 100, 0),
};
static_assert(ValidTable(kBleachBypassParams));

// A contrast-shaped grey laid over a saturation-adjusted copy of the image,
// mixed back by the amount, then warmed or cooled.
class BleachBypass final : public Effect {
 public:
  enum { kBackground, kView, kAmount, kSaturation, kContrast, kTemperature };
  using Effect::Effect;

  bool IsActive() const {
    return (RangeValue(kAmount) > 0 || RangeValue(kTemperature) != 0) && ListIndex(kView) == 0;
  }

  void Render(RenderInfo& info) {
    WithDepth(info.is16Bit, [&]<class S>() { RenderT<S>(*Source(), *info.destination, info.area); });
    WarmCoolShift(*info.destination, info.area, Percent(kTemperature));
  }

 private:
  template <class S>
  void RenderT(const Raster& source, Raster& destination, const Rect& area) const {
    constexpr int32_t L = Depth<S>::L;
    const double a = Percent(kAmount), s = Percent(kSaturation), c = Percent(kContrast);
    const std::vector<S> table = ToneShapeTable<S>(0, c, 0);
    const int32_t alpha = static_cast<int32_t>(a * L);
    const float saturationFactor = static_cast<float>(1 + s);
    for (int32_t y = area.top; y < area.bottom; ++y) {
      const S* p = source.RowAs<S>(y) + 4 * area.left;
      S* d = destination.RowAs<S>(y) + 4 * area.left;
      for (int32_t x = area.left; x < area.right; ++x, p += 4, d += 4) {
        const int32_t g = table[Depth<S>::Luminance(p[0], p[1], p[2])];
        S q[4] = {p[0], p[1], p[2], p[3]};
        if (s != 0) AdjustHueSaturation<S>(q, 0.0f, saturationFactor);
        for (int k = 0; k < 3; ++k) {
          const int32_t o = OverlayBlend<S>(q[k], g);
          d[k] = static_cast<S>((o * alpha + p[k] * (L - alpha)) / L);
        }
        d[3] = p[3];
      }
    }
  }
};
inline constexpr EffectType kBleachBypassType = catalogue::Type("BleachBypass", kBleachBypassParams, 0x0A);

// ---------------------------------------------------------------- Black and White

inline constexpr ParamSpec kBlackAndWhiteParams[] = {
    Image("background", "Background"),
    List("view", "View", kOutputOriginal),
    List("filter", "Filter", kMonoFilterItems),
    Range("brightness", "Brightness", -100, 100, 0),
    Range("contrast", "Contrast", -100, 100, 0),
    Range("gamma", "Gamma", -100, 100, 0),
};
static_assert(ValidTable(kBlackAndWhiteParams));

class BlackAndWhite final : public Effect {
 public:
  enum { kBackground, kView, kFilter, kBrightness, kContrast, kGamma };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) == 0; }

  void Render(RenderInfo& info) {
    Raster& d = *info.destination;
    CopyArea(*Source(), d, info.area);
    MonoFilter(d, info.area, static_cast<MonoFilterKind>(ListIndex(kFilter)));
    ColorCorrection c;
    c.brightness = Percent(kBrightness);
    c.contrast = Percent(kContrast);
    c.bend = Percent(kGamma);
    ColorCorrectOp(d, info.area, c);
  }
};
inline constexpr EffectType kBlackAndWhiteType = catalogue::Type("BlackAndWhite", kBlackAndWhiteParams, 0x0A);

}  // namespace

const EffectRoutines& kBleachBypass = RoutinesOf<BleachBypass, kBleachBypassType>;
const EffectRoutines& kBlackAndWhite = RoutinesOf<BlackAndWhite, kBlackAndWhiteType>;

}  // namespace fx::effects
