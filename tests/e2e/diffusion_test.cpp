// The diffusion family through the module file: banded output equals the
// whole image with blurs whose margins pass the bands, textures placed in
// whole-image coordinates, and the textures shipped beside the module.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

namespace fs = std::filesystem;
// Each look reaches far: matte blurs and glow blurs together, margins wider
// than the narrow bands, textures moved about the image.
const std::vector<Look>& Looks() {
  static const std::vector<Look> looks = {
      {"Diffusion", {}},
      {"Diffusion",
       {{"diffusion", "0"},
        {"glowBlend", "1"},
        {"glowColor", "1,0.6,0.3"},
        {"matteBlur", "40"},
        {"glowBlurH", "150"}}},
      {"Diffusion",
       {{"diffTexture", "net.png"},
        {"diffTexBlend", "3"},
        {"dveRotate", "30"},
        {"dveScaleX", "70"},
        {"dvePosition", "0.1,-0.2"},
        {"dveShearY", "20"},
        {"dveAnchorX", "30"},
        {"dveCropTop", "10"}}},
      {"Diffusion",
       {{"diffTexture", "canvas.png"},
        {"diffTexBlend", "5"},
        {"dveCornerPinUR", "0.3,-0.4"},
        {"dveCornerPinLL", "-0.4,0.3"},
        {"glowBrightness", "300"}}},
      {"Diffusion", {{"view", "2"}, {"diffTexture", "scratches.png"}, {"dveRotate", "-45"}}},
      {"Glow", {{"glowMode", "0"}, {"matteBlur", "50"}, {"glowHBlur", "300"}, {"mattePosition", "80"}}},
      {"Glow", {{"view", "1"}, {"matteBlur", "120"}}},
      {"Mist",
       {{"glowBlurGang", "0"}, {"glowBlurH", "30"}, {"glowBlurV", "200"}, {"glowColor", "0.7,0.8,1"}}},
      {"BlackMist", {{"glowBrightness", "400"}, {"matteBlur", "25"}}},
      {"Fog",
       {{"vanish", "0.3,-0.2"},
        {"density", "60"},
        {"glowBrightness", "300"},
        {"glowHBlur", "200"},
        {"matteBlur", "20"}}},
      {"LowContrast", {{"lightSpread", "300"}, {"matteBlur", "40"}, {"lightBrightness", "250"}}},
      {"LowContrast", {{"view", "2"}, {"lightSpread", "150"}}},
      {"WarmMist", {{"glowBlurH", "250"}, {"matteBlur", "35"}, {"exposure", "40"}, {"mist", "0"}}},
      {"WarmBlackMist", {{"glowBrightness", "250"}, {"color", "1,0.7,0.4"}}},
      {"Defog", {{"vanish", "-0.3,0.25"}, {"density", "40"}, {"hue", "15"}, {"contrast", "20"}}},
      {"SoftEffects", {{"blurX", "300"}, {"opacity", "80"}}},
      {"WarmSoftEffects", {{"blurGang", "0"}, {"blurX", "40"}, {"blurY", "260"}, {"highlights", "80"}}},
      {"Halo", {{"blurX", "280"}, {"sat", "-60"}}},
      // The grain follows the tiling by design; the rest of Faux Film may not.
      {"FauxFilm",
       {{"grainRAmount", "0"},
        {"grainGAmount", "0"},
        {"grainBAmount", "0"},
        {"glowBlurH", "120"},
        {"matteBlur", "30"},
        {"hue", "20"},
        {"contrast", "15"},
        {"warmCool", "-10"}}},
  };
  return looks;
}

TEST(DiffusionModule, BandsGiveTheWholeImage) {
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("rocket.jpg", 200, 360, depth);
    for (const Look& look : Looks()) {
      std::string what;
      for (const auto& [key, value] : look.set) what += key + "=" + value + " ";
      // 256 rows with margins as a host tiles it; 133 leaves a last band of
      // a few rows; 40 is narrower than most margins.
      EXPECT_NE(ExpectBandsAgree(look, source, {256, 133, 40}, what), source) << look.entry << " " << what;
    }
  }
}

// Faux Film's grain repeats with the tiling: the same bands give the same
// grain.
TEST(DiffusionModule, FauxFilmGrainRepeatsWithTheTiling) {
  const Document source = Photo("coffee.png", 160, 300, 16);
  HostOptions banded;
  banded.tileRows = 64;
  const Document a = RenderWith("FauxFilm", source, {}, banded);
  EXPECT_EQ(RenderWith("FauxFilm", source, {}, banded), a);
  EXPECT_NE(a, source);
}

int32_t Spread(const Document& d) {
  int32_t lo = d.FullScale(), hi = 0;
  for (uint16_t s : d.samples) {
    lo = std::min<int32_t>(lo, s);
    hi = std::max<int32_t>(hi, s);
  }
  return hi - lo;
}

// Every texture shipped beside the module loads; by default there is none,
// and the texture view is black.
TEST(DiffusionModule, ShippedTexturesLoad) {
  const fs::path folder = fs::path(OVRA_MODULE_DIR) / "Textures";
  const Document source = Photo("chelsea.png", 120, 80, 8);
  int count = 0;
  for (const fs::directory_entry& f : fs::directory_iterator(folder)) {
    if (f.path().extension() != ".png") continue;
    ++count;
    const Document shown =
        RenderWith("Diffusion", source, {{"view", "2"}, {"diffTexture", f.path().filename()}});
    EXPECT_GT(Spread(shown), 40) << f.path();
  }
  EXPECT_GE(count, 6);
  const Document noTexture = RenderWith("Diffusion", source, {{"view", "2"}});
  EXPECT_EQ(Spread(noTexture), 0);
  // A file that is not there is shown black.
  const Document missing =
      RenderWith("Diffusion", source, {{"view", "2"}, {"diffTexture", "no such file.png"}});
  EXPECT_EQ(Spread(missing), 0);
  EXPECT_EQ(missing.samples[0], 0);
}

}  // namespace
