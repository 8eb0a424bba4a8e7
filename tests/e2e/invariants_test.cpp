// What every registered effect shares, checked for all of them through the
// real module: the "Original" view returns the source bit for bit, one band
// equals many narrow bands, both transfer paths agree, and an effect at its
// defaults renders without failing at both depths.
#include <set>

#include "framework/registry.h"
#include "plugin/entry_table.h"
#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

struct EffectCase {
  std::string entry;  // without "PIMAIN_"
  std::string registryName;
  int originalView = -1;  // list index of "Original" in the view list, -1 when none
  Settings settings;      // what makes it change the image
};

// Settings under which an effect visibly changes the sample photographs;
// empty: its defaults do.
Settings ChangingSettings(const std::string& registryName) {
  if (registryName == "BlackAndWhite") return {{"contrast", "30"}};
  if (registryName == "BleachBypass") return {{"temperature", "20"}};
  // A graduated depth: the mask follows each band's place in the image.
  if (registryName == "DepthOfField") return {{"depthSource", "1"}, {"dir", "1"}, {"blurX", "60"}};
  if (registryName == "FStop") return {{"red", "1"}, {"sBlue", "-1"}};
  if (registryName == "PrinterPoints") return {{"red", "30"}};
  if (registryName == "Telecine") return {{"masterBrightness", "20"}, {"gainGainHue", "40"}};
  if (registryName == "ColorCorrect")
    return {{"ccMasterSat", "20"},
            {"ccContrast", "15"},
            {"ccShadB", "20"},
            {"ccHighBri", "-10"},
            {"ccTintAmount", "10"}};
  if (registryName == "ColorTemp")
    return {{"destKelvin", "5500"}, {"exposure", "30"}, {"gradEnable", "1"}, {"grad_nd", "20"}};
  if (registryName == "Fluorescent") return {{"temperature", "15"}};
  // Barrel distortion: every band reads rows of others through source access.
  if (registryName == "LensDistortion") return {{"amount", "-8"}, {"squeeze", "1.5"}, {"asymetricY", "1"}};
  if (registryName == "Ozone") return {{"bri5", "30"}, {"red2", "50"}, {"con8", "20"}};
  if (registryName == "SelectiveSaturation") return {{"sSat", "50"}, {"hSat", "-30"}};
  if (registryName == "Temperature")
    return {{"temperature", "30"}, {"Mtemperature", "-20"}, {"ScyanMagenta", "20"}};
  if (registryName == "Tint") return {{"gradEnable", "1"}, {"grad_nd", "30"}};
  if (registryName == "WarmCool") return {{"temperature", "30"}};
  if (registryName == "SplitField") return {{"rotate", "25"}, {"position", "0.1,-0.2"}};
  if (registryName == "RadialExposure") return {{"edges", "-1.5"}, {"center", "0.7"}, {"sFalloff", "40"}};
  if (registryName == "Flashing") return {{"sBrightness", "60"}, {"hBrightness", "40"}, {"hPresets", "5"}};
  if (registryName == "Star") return {{"StarSize", "60"}, {"matteBlur", "15"}, {"mattePosition", "60"}, {"matteRange", "40"}};
  if (registryName == "VariStar")
    return {{"starBlur", "5"}, {"matteBlur", "10"}, {"mattePosition", "60"}, {"matteRange", "40"}, {"radius1", "15"}};
  if (registryName == "Light")
    return {{"sBrightness", "60"}, {"lDisplacement", "40"}, {"sBlurX", "20"}, {"compositeFunc", "3"}, {"sOpacity", "70"}};
  if (registryName == "Relight") return {{"lDisplacement", "-60"}, {"compositeFunc", "4"}, {"matteBlur", "10"}};
  if (registryName == "Streaks") return {{"glowHBlur", "30"}, {"glowVBlur", "60"}, {"matteBlur", "20"}, {"matteRange", "30"}};
  if (registryName == "Enhancing") return {{"matteBlur", "40"}, {"matteRange", "40"}};
  if (registryName == "SelectiveColor")
    return {{"hue", "30"}, {"saturation", "40"}, {"extractOn", "1"}, {"matteBlurX", "30"}};
  if (registryName == "Polarizer") return {{"matteBlur", "30"}, {"gradEnable", "1"}, {"grad_nd", "30"}};
  if (registryName == "Overexpose") return {{"amount", "40"}, {"intensity", "200"}};
  return {};
}

// Effects whose output follows the tiling by design (grain is seeded per
// tile): the same tiling must give the same image, different tilings may not.
bool SameTilingOnly(const std::string& registryName) {
  static const std::set<std::string> kByDesign = {"FauxFilm", "Grain", "NightVision"};
  return kByDesign.count(registryName) != 0;
}

// Every effect type the module registers, read from the same registration
// list the module is built with.
std::vector<EffectCase> RegisteredEffects() {
  fx::EffectRegistry& registry = Types();
  std::vector<EffectCase> cases;
  for (int i = 0; i < registry.Count(); ++i) {
    EffectCase c;
    c.registryName = registry.NameAt(i);
    for (const ps::EntryInfo& e : ps::kEntryTable)
      if (c.registryName == e.registryName) c.entry = std::string(e.entryName).substr(7);
    fx::EffectInstance* instance = registry.Lookup(registry.NameAt(i));
    const int view = fx::IndexOfKey(*instance, "view");
    if (view >= 0) {
      const fx::Parameter& p = instance->parameters[view];
      for (int32_t item = 0; item < p.ItemCount(); ++item)
        if (std::string(p.Item(item)) == "Original") c.originalView = item;
    }
    c.settings = ChangingSettings(c.registryName);
    cases.push_back(c);
  }
  return cases;
}

class EveryEffect : public ::testing::TestWithParam<EffectCase> {};

TEST_P(EveryEffect, OriginalViewPassesTheSourceThrough) {
  const EffectCase& c = GetParam();
  if (c.originalView < 0) GTEST_SKIP() << "no Original view";
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("coffee.png", 90, 70, depth);
    auto set = c.settings;
    set.push_back({"view", std::to_string(c.originalView)});
    const Document out = RenderWith(c.entry, source, set);
    EXPECT_EQ(out, source) << depth << ": " << FirstDifference(out, source);
  }
}

TEST_P(EveryEffect, ChangesTheImage) {
  const EffectCase& c = GetParam();
  const Document source = Photo("coffee.png", 90, 70, 8);
  EXPECT_NE(RenderWith(c.entry, source, c.settings), source);
}

TEST_P(EveryEffect, OneBandEqualsManyBands) {
  const EffectCase& c = GetParam();
  const Tiling tiling = SameTilingOnly(c.registryName) ? Tiling::kSameBandsGiveTheSameImage
                                                       : Tiling::kAnyBandsGiveTheWholeImage;
  for (int32_t depth : {8, 16})
    ExpectBandsAgree({c.entry, c.settings}, Photo("coffee.png", 90, 300, depth), {0, 1, 7, 50, 256}, "",
                     tiling);
}

TEST_P(EveryEffect, BothTransferPathsAgree) {
  // At both depths (the fallback's planes hold the document's samples) and
  // in bands of 1, 7 and 32 rows; the host's documents hold R, G, B only.
  const EffectCase& c = GetParam();
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("coffee.png", 90, 70, depth);
    for (int32_t rows : {1, 7, 32}) {
      HostOptions interleaved;
      interleaved.interleaved = true;
      interleaved.tileRows = rows;
      HostOptions sameTiling;
      sameTiling.tileRows = rows;
      const Document ports =
          RenderWith(c.entry, source, c.settings, SameTilingOnly(c.registryName) ? sameTiling : HostOptions{});
      const Document fallback = RenderWith(c.entry, source, c.settings, interleaved);
      EXPECT_EQ(fallback, ports) << depth << "-bit, " << rows << " rows: " << FirstDifference(fallback, ports);
    }
  }
}

std::string Name(const ::testing::TestParamInfo<EffectCase>& info) {
  return info.param.entry;
}

INSTANTIATE_TEST_SUITE_P(Registered, EveryEffect, ::testing::ValuesIn(RegisteredEffects()), Name);

TEST(Registration, FollowsTheCatalogueOrder) {
  // Registered types are a subsequence of the entry table's first 73 rows.
  std::size_t next = 0;
  for (const EffectCase& c : RegisteredEffects()) {
    while (next < 73 && c.registryName != ps::kEntryTable[next].registryName) ++next;
    EXPECT_LT(next, 73u) << c.registryName << " out of order";
  }
}

}  // namespace
