// The view lists the colour and tone effects' files share.
#pragma once

#include <cstdint>

namespace fx::effects::tone {

inline constexpr const char* kOutputOriginal[] = {"Output", "Original"};

// The band views of the tonal-range members.
inline constexpr const char* kBandViews[] = {"Output", "Shadows", "Midtones", "Highlights", "Original"};
enum BandView { kBandOutput, kShowShadows, kShowMidtones, kShowHighlights, kBandOriginal };

// The engine band a band view shows.
constexpr int ViewedBand(int32_t view) {
  return view - kShowShadows;
}

// The views of the members with a grad.
inline constexpr const char* kGradViews[] = {"Output", "Grad", "Original"};
enum GradView { kGradOutput, kShowGrad, kGradOriginal };

}  // namespace fx::effects::tone
