// Small effect types of the test module. They are registered under registry
// names of the entry table so that the real entry points reach them.
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "framework/effect.h"
#include "framework/errors.h"
#include "framework/memory.h"
#include "framework/registry.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "plugin/entry_call.h"
#include "plugin/render_loop.h"
#include "tests/plugin/module/probe.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

OvraTestProbe g_probe = {0, 1, NAN, 0, 0, 0, 0, {}};

void Record(int32_t effect, const fx::RenderInfo& info) {
  if (g_probe.renderCallCount >= 4096) return;
  OvraTestRenderCall& c = g_probe.renderCalls[g_probe.renderCallCount++];
  c = {effect,
       info.area.top,
       info.area.left,
       info.area.bottom,
       info.area.right,
       info.outputRect.top,
       info.outputRect.left,
       info.outputRect.bottom,
       info.outputRect.right,
       info.tileIndex,
       info.tileCount,
       info.destination->Width(),
       info.destination->Height(),
       info.imageWidth,
       info.imageHeight,
       info.scaleX,
       info.isPreview,
       info.is16Bit ? 1 : 0};
}

inline constexpr const char* kOutputOriginal[] = {"Output", "Original"};

// Bleach Bypass's parameter table over an inverting render.
inline constexpr fx::ParamSpec kInvertParams[] = {
    fx::Image("background", "Background"),
    fx::List("view", "View", kOutputOriginal),
    fx::Range("amount", "Amount", 0, 100, 100).Flags(fx::kPrincipal),
    fx::Range("saturation", "Saturation", -100, 100, 0),
    fx::Range("contrast", "Contrast", -100, 100, 0),
    fx::Range("temperature", "Temperature", -100, 100, 0),
};
static_assert(fx::ValidTable(kInvertParams));

class Invert final : public fx::Effect {
 public:
  using Effect::Effect;
  enum { kBackground, kView, kAmount, kSaturation, kContrast, kTemperature };
  bool IsActive() const { return (RangeValue(kAmount) > 0 || RangeValue(kTemperature) != 0) && ListIndex(kView) == 0; }
  void BeginRender(fx::RenderInfo&) { ++g_probe.beginRenderCalls; }
  void Render(fx::RenderInfo& info) {
    Record(0, info);
    fx::WithDepth(info.is16Bit, [&]<class S>() {
      const fx::Raster& src = *Source();
      fx::Raster& dst = *info.destination;
      for (int32_t y = info.area.top; y < info.area.bottom; ++y) {
        const S* s = src.RowAs<S>(y);
        S* d = dst.RowAs<S>(y);
        for (int32_t x = info.area.left; x < info.area.right; ++x)
          for (int c = 0; c < 4; ++c)
            d[4 * x + c] = c == 3 ? s[4 * x + c] : static_cast<S>(fx::Depth<S>::L - s[4 * x + c]);
      }
    });
  }
};
inline constexpr fx::EffectType kInvertType{"Ovra Bleach Bypass", "Tint a gradiated portion of the image.",
                                            kInvertParams, 0x0A};

// Raises a chosen failure where the frame must turn it into a result code.
inline constexpr const char* kFailures[] = {"none", "exception", "oserr", "service", "unknown", "long", "render", "bad_alloc"};
inline constexpr fx::ParamSpec kThrowParams[] = {
    fx::Image("background", "Background"),
    fx::List("view", "View", kOutputOriginal),
    fx::List("failure", "Failure", kFailures),
};

class Thrower final : public fx::Effect {
 public:
  using Effect::Effect;
  bool IsActive() const { return true; }
  void BeginRender(fx::RenderInfo&) {
    switch (ListIndex(2)) {
      case 1:
        throw std::runtime_error("x");
      case 2:
        fx::ThrowOSErr(-4242);
      case 3:
        fx::ThrowServiceError(0x12345678);
      case 4:
        throw 7;
      case 5:
        throw std::runtime_error(std::string(300, 'm'));
      case 7:
        fx::Free(fx::Allocate(SIZE_MAX / 2));  // more than any heap holds
        break;
      default:
        break;
    }
  }
  void Render(fx::RenderInfo& info) {
    if (ListIndex(2) == 6) throw std::runtime_error("render failed");
    info.destination->CopyRows(*Source(), info.area);
  }
};
inline constexpr fx::EffectType kThrowerType{"Ovra Fog", "", kThrowParams, 0};

// Every parameter kind, in groups.
inline constexpr const char* kModes[] = {"Subtle", "Spread"};
inline constexpr fx::ParamSpec kKindsParams[] = {
    fx::Image("background", "Background"),
    fx::List("view", "View", kOutputOriginal),
    fx::Group("glow", "Glow", true),
    fx::List("glowMode", "Glow", kModes, 1),
    fx::Range("glowBrightness", "Brightness", 0, 800, 75).Flags(fx::kPrincipal),
    fx::Bool("glowGangBlur", "Gang Blur", true).Flags(fx::kNotify),
    fx::Colour("glowColor", "Color", fx::kWhite),
    fx::Point("center", "Center", {0.1, -0.2}),
    fx::End(),
    fx::Group("texture", "Texture"),
    fx::ImageFile("diffTexture", "Texture", "KVR Ovra v6", "textures", "205 venetian blind.png"),
    fx::End(),
};
static_assert(fx::ValidTable(kKindsParams));

class Kinds final : public fx::Effect {
 public:
  using Effect::Effect;
  bool IsActive() const { return false; }
  void Render(fx::RenderInfo&) {}
  void ParameterChanged(int32_t index) {
    if (index == 5) fx::SetEnabled(Param(6), !BooleanValue(5));
  }
};
inline constexpr fx::EffectType kKindsType{"Ovra Glow", "", kKindsParams, 0};

// Needs `margin` rows above each output row: shifts the image down by that
// much, repeating the image's top row, so a band with too small a margin
// shows a seam.
inline constexpr fx::ParamSpec kMarginParams[] = {
    fx::Image("background", "Background"),
    fx::List("view", "View", kOutputOriginal),
    fx::Range("margin", "Margin", 0, 1000, 10).Flags(fx::kWholeNumbers),
};

class Margins final : public fx::Effect {
 public:
  using Effect::Effect;
  int32_t Margin() const { return static_cast<int32_t>(RangeValue(2)); }
  bool IsActive() const { return ListIndex(1) == 0; }
  void ExpandRect(fx::RenderInfo&, fx::Rect& r) {
    ++g_probe.expandCalls;
    r = r.Grown(Margin(), Margin());
  }
  void Render(fx::RenderInfo& info) {
    Record(1, info);
    const int32_t m = Margin();
    fx::WithDepth(info.is16Bit, [&]<class S>() {
      const fx::Raster& src = *Source();
      fx::Raster& dst = *info.destination;
      const int32_t bytes = info.area.Width() * 4 * static_cast<int32_t>(sizeof(S));
      for (int32_t y = info.area.top; y < info.area.bottom; ++y) {
        // A tile that starts at the image top has no rows above it: repeat row 0.
        const int32_t from = y - m < 0 ? 0 : y - m;
        std::memcpy(dst.RowAs<S>(y) + 4 * info.area.left, src.RowAs<S>(from) + 4 * info.area.left,
                    static_cast<std::size_t>(bytes));
      }
    });
  }
};
inline constexpr fx::EffectType kMarginsType{"Ovra Fast Blur", "Blur images.", kMarginParams, 0};

// Reads source rows through the frame's source access (effects that need
// pixels outside their tile): writes the filter area mirrored vertically.
inline constexpr fx::ParamSpec kMirrorParams[] = {
    fx::Image("background", "Background"),
    fx::List("view", "View", kOutputOriginal),
};

class Mirror final : public fx::Effect {
 public:
  using Effect::Effect;
  bool IsActive() const { return ListIndex(1) == 0; }
  void Render(fx::RenderInfo& info) {
    Record(2, info);
    // Source access speaks filter coordinates.
    const fx::Rect& filter = info.filterRect;
    fx::WithDepth(info.is16Bit, [&]<class S>() {
      fx::Raster& dst = *info.destination;
      for (int32_t y = info.area.top; y < info.area.bottom; ++y) {
        const int32_t imageRow = info.outputRect.top + y;  // the tile has no margins
        const int32_t mirrored = filter.bottom - 1 - imageRow;  // in the filter area's rows
        fx::Rect band;
        fx::Raster* src = info.SourceAccess(0, mirrored, band);
        if (src == nullptr) throw std::runtime_error("no source");
        std::memcpy(dst.RowAs<S>(y), src->RowAs<S>(mirrored - band.top),
                    static_cast<std::size_t>(info.area.Width()) * 4 * sizeof(S));
      }
    });
  }
};
inline constexpr fx::EffectType kMirrorType{"Ovra Lens Distortion", "", kMirrorParams, 0x148};

}  // namespace

void fx::RegisterEffects(EffectRegistry& registry) {
  registry.Register("BleachBypass", RoutinesOf<Invert, kInvertType>);
  registry.Register("FastBlur", RoutinesOf<Margins, kMarginsType>);
  registry.Register("Fog", RoutinesOf<Thrower, kThrowerType>);
  registry.Register("Glow", RoutinesOf<Kinds, kKindsType>);
  registry.Register("LensDistortion", RoutinesOf<Mirror, kMirrorType>);
}

// The scripted dialogs of the test module.
bool ps::RunSettingsDialog(EntryCall& call) {
  ++g_probe.dialogCalls;
  if (!std::isnan(g_probe.dialogSetsAmount)) {
    const int i = fx::IndexOfKey(*call.effect, "amount");
    if (i >= 0) fx::SetRange(call.effect->parameters[i], g_probe.dialogSetsAmount);
  }
  return g_probe.dialogAccepts != 0;
}

void ps::ShowAboutBox(const AboutRecord*, fx::EffectInstance*) { ++g_probe.aboutCalls; }

TEST_EXPORT OvraTestProbe* ovra_test_probe() { return &g_probe; }
TEST_EXPORT const char* ovra_test_plugin_path() { return ps::PluginPath(); }
TEST_EXPORT int32_t ovra_test_init_count() { return ps::InitCount(); }

// The preview render of the settings dialog, for the tests of the frame.
TEST_EXPORT void* ovra_test_preview_open(FilterRecord* record, const char* registryName) {
  fx::EffectInstance* effect = fx::Registry().Lookup(registryName);
  return effect ? new ps::PreviewRenderer(record, *effect) : nullptr;
}

TEST_EXPORT int32_t ovra_test_preview_render(void* preview, int32_t top, int32_t left, int32_t bottom,
                                             int32_t right, float zoom, uint8_t* out, int32_t rowBytes,
                                             int32_t dragging) {
  return static_cast<ps::PreviewRenderer*>(preview)->Render({top, left, bottom, right}, zoom, out, rowBytes,
                                                            dragging != 0)
             ? 1
             : 0;
}

TEST_EXPORT void ovra_test_preview_close(void* preview) { delete static_cast<ps::PreviewRenderer*>(preview); }
