// The hue and saturation step over runs of pixels: the vector loop against
// the one-pixel step over every 8-bit colour and a dense 16-bit sweep, with
// shifts and factors that reach each branch (wraps, sector 6, clamped and
// flattened saturation, shifts beyond a full turn), masks and run tails.
#include "imaging/hue_saturation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/channel_tables.h"

namespace {

struct LoopLimit {
  ~LoopLimit() { fx::LimitColourLoopInstructionSet(1); }
};

// Every 8-bit colour once, alpha varying.
std::vector<uint8_t> Every8BitColour() {
  std::vector<uint8_t> p(4u << 24);
  for (uint32_t i = 0; i < (1u << 24); ++i) {
    p[4 * i] = static_cast<uint8_t>(i);
    p[4 * i + 1] = static_cast<uint8_t>(i >> 8);
    p[4 * i + 2] = static_cast<uint8_t>(i >> 16);
    p[4 * i + 3] = static_cast<uint8_t>(i * 7 + 3);
  }
  return p;
}

// 16-bit samples in steps over the full scale and beyond it, plus the
// neighbours of full scale, every combination.
std::vector<uint16_t> Sweep16Bit() {
  std::vector<int32_t> levels;
  for (int32_t v = 0; v <= 65535; v += 389) levels.push_back(v);
  for (int32_t v : {1, 2, 32767, 32768, 32769, 65535}) levels.push_back(v);
  std::vector<uint16_t> p;
  p.reserve(4 * levels.size() * levels.size() * levels.size());
  uint16_t a = 0;
  for (int32_t r : levels)
    for (int32_t g : levels)
      for (int32_t b : levels) {
        p.insert(p.end(), {static_cast<uint16_t>(r), static_cast<uint16_t>(g), static_cast<uint16_t>(b), a});
        a = static_cast<uint16_t>(a + 4099);
      }
  return p;
}

struct Setting {
  float hue;
  float factor;
};
// Shifts in both directions and at a full turn either way, beyond a turn
// (the one-pixel step's own wrap), factors that leave, raise, clamp,
// flatten (0) and negate the saturation.
constexpr Setting kSettings[] = {{0, 1.2f},   {30, 1.4f},  {-170, 0.5f}, {360, 1},
                                 {-360, 2.f}, {0, 0},      {200, -0.3f}, {400, 1},
                                 {-725, 1.f}, {0.25f, 1}};

template <class S>
void ExpectEveryPixelAsTheOnePixelStep(const std::vector<S>& source, int32_t runLength) {
  const int32_t pixels = static_cast<int32_t>(source.size() / 4);
  for (const Setting& s : kSettings) {
    std::vector<S> vector = source;
    for (int32_t first = 0; first < pixels; first += runLength)
      fx::AdjustHueSaturationRun(vector.data() + 4 * first, std::min(runLength, pixels - first), s.hue, s.factor);
    std::vector<S> plain = source;
    for (int32_t i = 0; i < pixels; ++i) fx::AdjustHueSaturation<S>(plain.data() + 4 * i, s.hue, s.factor);
    int32_t differ = 0, first = -1;
    for (int32_t i = 0; i < pixels; ++i)
      if (std::memcmp(&vector[4 * i], &plain[4 * i], 4 * sizeof(S)) != 0 && differ++ == 0) first = i;
    EXPECT_EQ(differ, 0) << "hue " << s.hue << " factor " << s.factor << ", first at "
                         << (first < 0 ? 0 : plain[4 * first]) << "," << (first < 0 ? 0 : plain[4 * first + 1])
                         << "," << (first < 0 ? 0 : plain[4 * first + 2]);
  }
}

TEST(HueSaturationRun, EveryEightBitColourAsTheOnePixelStep) {
  LoopLimit restore;
  fx::LimitColourLoopInstructionSet(1);
  // Runs of 4093 pixels leave a tail of 5 after the blocks of 8.
  ExpectEveryPixelAsTheOnePixelStep(Every8BitColour(), 4093);
}

TEST(HueSaturationRun, SixteenBitSweepAsTheOnePixelStep) {
  LoopLimit restore;
  fx::LimitColourLoopInstructionSet(1);
  ExpectEveryPixelAsTheOnePixelStep(Sweep16Bit(), 1021);
}

TEST(HueSaturationRun, MaskedPixelsAreLeftAloneAndTheRestStepped) {
  LoopLimit restore;
  const std::vector<uint8_t> source = Every8BitColour();
  const int32_t pixels = 1 << 20;  // the first 16th: every red and green
  std::vector<uint8_t> mask(pixels);
  for (int32_t i = 0; i < pixels; ++i) mask[i] = static_cast<uint8_t>(i % 3 == 0 ? 0 : i % 7 + 1);
  for (int level : {0, 1}) {
    fx::LimitColourLoopInstructionSet(level);
    std::vector<uint8_t> out(source.begin(), source.begin() + 4 * pixels);
    fx::AdjustHueSaturationRun(out.data(), pixels, 40.0f, 1.5f, mask.data());
    int32_t wrong = 0;
    for (int32_t i = 0; i < pixels; ++i) {
      uint8_t expected[4];
      std::memcpy(expected, &source[4 * i], 4);
      if (mask[i] != 0) fx::AdjustHueSaturation<uint8_t>(expected, 40.0f, 1.5f);
      wrong += std::memcmp(expected, &out[4 * i], 4) != 0;
    }
    EXPECT_EQ(wrong, 0) << "level " << level;
  }
}

// Tables with every kind of entry: shifts over two turns either way, and
// saturations that make the factor negative, 0, 1 and above.
template <class S>
void LuminanceTables(std::vector<float>& hue, std::vector<float>& saturation) {
  const int32_t n = fx::Depth<S>::kTableSize;
  hue.resize(n);
  saturation.resize(n);
  for (int32_t y = 0; y < n; ++y) {
    hue[y] = static_cast<float>(std::fmod(y * 7.3, 1440.0) - 720.0);
    saturation[y] = static_cast<float>((y % 50) / 20.0 - 1.25);
  }
  saturation[0] = -1.0f;
  saturation[n - 1] = 0.0f;
}

template <class S>
void ExpectByLuminanceAsTheOnePixelStep(const std::vector<S>& source, int32_t runLength) {
  constexpr int32_t L = fx::Depth<S>::L;
  std::vector<float> hue, saturation;
  LuminanceTables<S>(hue, saturation);
  const int32_t pixels = static_cast<int32_t>(source.size() / 4);
  std::vector<S> vector = source;
  for (int32_t first = 0; first < pixels; first += runLength)
    fx::AdjustHueSaturationByLuminance(vector.data() + 4 * first, std::min(runLength, pixels - first), hue.data(),
                                       saturation.data());
  int32_t wrong = 0;
  for (int32_t i = 0; i < pixels; ++i) {
    S expected[4];
    std::memcpy(expected, &source[4 * i], sizeof expected);
    const int32_t y = std::min(fx::Depth<S>::Luminance(expected[0], expected[1], expected[2]), L);
    fx::AdjustHueSaturation<S>(expected, hue[y], 1.0f + saturation[y]);
    wrong += std::memcmp(expected, &vector[4 * i], sizeof expected) != 0;
  }
  EXPECT_EQ(wrong, 0);
}

TEST(HueSaturationByLuminance, EachPixelTakesTheSettingsOfItsOwnLuminance) {
  LoopLimit restore;
  for (int level : {0, 1}) {
    fx::LimitColourLoopInstructionSet(level);
    ExpectByLuminanceAsTheOnePixelStep(Every8BitColour(), 4093);
    ExpectByLuminanceAsTheOnePixelStep(Sweep16Bit(), 1021);
  }
}

// Tints whose hue is in each sector, at the sector edges, at a full turn and
// undefined (a grey tint), with saturations from none to full.
constexpr Setting kTints[] = {{0, 1},       {359.99997f, 0.7f}, {360, 0.5f}, {60, 0.25f}, {119.5f, 1},
                              {180, 0.9f},  {240.00002f, 0.6f}, {300, 0},    {333.3f, 0.1f},
                              {fx::kHueUndefined, 0}};

template <class S>
void ExpectTintAsTheOnePixelFormula(const std::vector<S>& source, int32_t runLength) {
  constexpr int32_t L = fx::Depth<S>::L;
  constexpr float kUnit = fx::Depth<S>::kToUnit;
  const int32_t pixels = static_cast<int32_t>(source.size() / 4);
  std::vector<int32_t> tinted(3 * static_cast<std::size_t>(pixels));
  for (const Setting& tint : kTints) {
    for (bool own : {false, true}) {
      for (int32_t first = 0; first < pixels; first += runLength)
        fx::HsvTintRun(source.data() + 4 * first, std::min(runLength, pixels - first), tint.hue, tint.factor, own,
                       tinted.data() + 3 * first);
      int32_t wrong = 0;
      for (int32_t i = 0; i < pixels; ++i) {
        const S* p = &source[4 * i];
        const fx::Hsv hsv = fx::RgbToHsv(p[0] * kUnit, p[1] * kUnit, p[2] * kUnit);
        const fx::RgbF c = fx::HsvToRgb(tint.hue, own ? hsv.s : tint.factor, hsv.v);
        const int32_t expected[3] = {static_cast<int32_t>(L * c.r), static_cast<int32_t>(L * c.g),
                                     static_cast<int32_t>(L * c.b)};
        wrong += std::memcmp(expected, &tinted[3 * i], sizeof expected) != 0;
      }
      EXPECT_EQ(wrong, 0) << "hue " << tint.hue << " saturation " << tint.factor << " own " << own;
    }
  }
}

TEST(HsvTintRun, EveryEightBitColourAndA16BitSweepAsTheOnePixelFormula) {
  LoopLimit restore;
  fx::LimitColourLoopInstructionSet(1);
  ExpectTintAsTheOnePixelFormula(Every8BitColour(), 4093);
  ExpectTintAsTheOnePixelFormula(Sweep16Bit(), 1021);
}

TEST(HueSaturationRun, EmptyAndShortRunsTouchNothingBeyondThemselves) {
  std::vector<uint8_t> p = {255, 0, 0, 9, 0, 255, 0, 9, 1, 2, 3, 4};
  const std::vector<uint8_t> before = p;
  fx::AdjustHueSaturationRun(p.data(), 0, 120.0f, 1.0f);
  EXPECT_EQ(p, before);
  // Pure red shifted by 120 degrees is pure green; the third pixel stays.
  fx::AdjustHueSaturationRun(p.data(), 2, 120.0f, 1.0f);
  EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 8), (std::vector<uint8_t>{0, 255, 0, 9, 0, 0, 255, 9}));
  EXPECT_EQ(std::vector<uint8_t>(p.begin() + 8, p.end()), (std::vector<uint8_t>{1, 2, 3, 4}));
}

}  // namespace
