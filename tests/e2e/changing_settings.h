// What the tests over every registered effect share: the settings that make
// each effect change the sample photographs, and the effects whose output
// follows the tiling by design.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// Parameter keys and values, as given to ovra-host --set (the benchmark of
// every effect uses the same rows).
using Settings = std::vector<std::pair<std::string, std::string>>;

// Settings under which an effect visibly changes the sample photographs;
// empty: its defaults do.
inline Settings ChangingSettings(const std::string& registryName) {
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
  if (registryName == "Star")
    return {{"StarSize", "60"}, {"matteBlur", "15"}, {"mattePosition", "60"}, {"matteRange", "40"}};
  if (registryName == "VariStar")
    return {{"starBlur", "5"},
            {"matteBlur", "10"},
            {"mattePosition", "60"},
            {"matteRange", "40"},
            {"radius1", "15"}};
  if (registryName == "Light")
    return {{"sBrightness", "60"},
            {"lDisplacement", "40"},
            {"sBlurX", "20"},
            {"compositeFunc", "3"},
            {"sOpacity", "70"}};
  if (registryName == "Relight")
    return {{"lDisplacement", "-60"}, {"compositeFunc", "4"}, {"matteBlur", "10"}};
  if (registryName == "Streaks")
    return {{"glowHBlur", "30"}, {"glowVBlur", "60"}, {"matteBlur", "20"}, {"matteRange", "30"}};
  if (registryName == "Enhancing") return {{"matteBlur", "40"}, {"matteRange", "40"}};
  if (registryName == "SelectiveColor")
    return {{"hue", "30"}, {"saturation", "40"}, {"extractOn", "1"}, {"matteBlurX", "30"}};
  if (registryName == "Polarizer") return {{"matteBlur", "30"}, {"gradEnable", "1"}, {"grad_nd", "30"}};
  if (registryName == "Overexpose") return {{"amount", "40"}, {"intensity", "200"}};
  return {};
}

// Effects whose output follows the tiling by design (grain is seeded per
// tile): the same tiling must give the same image, different tilings may not.
inline bool SameTilingOnly(const std::string& registryName) {
  static const std::set<std::string> kByDesign = {"FauxFilm", "Grain", "NightVision"};
  return kByDesign.count(registryName) != 0;
}

}  // namespace e2e
