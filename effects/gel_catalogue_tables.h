// The twelve catalogues of named filters and gels: every row's name and its
// transmission of red, green and blue, and each catalogue's Presets list
// ("Custom", then the row names in order). The data and the way each table
// was derived are in gel_catalogue_tables.cpp.
#pragma once

#include <array>

namespace fx::gels {

// One catalogue row: the name shown in the Presets list and how much of R,
// G and B passes the filter (0..1).
struct GelRow {
  const char* name;
  double red, green, blue;
};

extern const std::array<GelRow, 36> kColorCompensatingRows;
extern const std::array<const char*, 37> kColorCompensatingPresets;
extern const std::array<GelRow, 10> kColorConversionRows;
extern const std::array<const char*, 11> kColorConversionPresets;
extern const std::array<GelRow, 30> kGamCineFiltersRows;
extern const std::array<const char*, 31> kGamCineFiltersPresets;
extern const std::array<GelRow, 137> kGamColorRows;
extern const std::array<const char*, 138> kGamColorPresets;
extern const std::array<GelRow, 6> kGamNakedCosmeticsRows;
extern const std::array<const char*, 7> kGamNakedCosmeticsPresets;
extern const std::array<GelRow, 193> kLGelsRows;
extern const std::array<const char*, 194> kLGelsPresets;
extern const std::array<GelRow, 10> kLightBalancingRows;
extern const std::array<const char*, 11> kLightBalancingPresets;
extern const std::array<GelRow, 95> kPhotoFiltersRows;
extern const std::array<const char*, 96> kPhotoFiltersPresets;
extern const std::array<GelRow, 32> kRoscoCalcolorRows;
extern const std::array<const char*, 33> kRoscoCalcolorPresets;
extern const std::array<GelRow, 38> kRoscoCinegelRows;
extern const std::array<const char*, 39> kRoscoCinegelPresets;
extern const std::array<GelRow, 131> kRoscoCineluxRows;
extern const std::array<const char*, 132> kRoscoCineluxPresets;
extern const std::array<GelRow, 10> kRoscoVelanteRows;
extern const std::array<const char*, 11> kRoscoVelantePresets;

}  // namespace fx::gels
