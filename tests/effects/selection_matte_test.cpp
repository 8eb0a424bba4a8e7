#include "effects/selection_matte.h"

#include <gtest/gtest.h>

#include <vector>

#include "effects/film_looks.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;
using fx::ExtractOn;

namespace {

// A one-channel raster of the given rows.
fx::RasterRef MatteOf(const std::vector<std::vector<int32_t>>& rows, bool is16Bit) {
  const int32_t h = static_cast<int32_t>(rows.size()), w = static_cast<int32_t>(rows[0].size());
  fx::RasterRef r = fx::MakeRaster(w, h, 1, is16Bit ? 2 : 1);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      if (is16Bit)
        r->RowAs<uint16_t>(y)[x] = static_cast<uint16_t>(rows[y][x]);
      else
        r->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(rows[y][x]);
    }
  return r;
}

std::vector<std::vector<int32_t>> RowsOf(const fx::Raster& r) {
  std::vector<std::vector<int32_t>> rows(r.Height(), std::vector<int32_t>(r.Width()));
  for (int32_t y = 0; y < r.Height(); ++y)
    for (int32_t x = 0; x < r.Width(); ++x)
      rows[y][x] = r.Is16Bit() ? r.RowAs<uint16_t>(y)[x] : r.RowAs<uint8_t>(y)[x];
  return rows;
}

using Row = std::vector<int32_t>;

TEST(TonalSelector, EveryExtractChannel) {
  // (200, 100, 50): hue 20 degrees, saturation 0.75; the 16-bit pixel is the
  // same colour times 128.
  const uint8_t p8[4] = {200, 100, 50, 255};
  const uint16_t p16[4] = {25600, 12800, 6400, 32768};
  struct Case {
    ExtractOn channel;
    int32_t v8, v16;
  };
  const Case cases[] = {
      {ExtractOn::kLuminance, 124, 15897},  // (76R + 150G + 29B) / 255; 16-bit weights >> 15
      {ExtractOn::kHue, 14, 1820},          // 20 / 360 * L
      {ExtractOn::kSaturation, 191, 24576}, {ExtractOn::kAverage, 116, 14933}, {ExtractOn::kRed, 200, 25600},
      {ExtractOn::kGreen, 100, 12800},      {ExtractOn::kBlue, 50, 6400},      {ExtractOn::kCyan, 75, 9600},
      {ExtractOn::kMagenta, 125, 16000},    {ExtractOn::kYellow, 150, 19200},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fx::TonalSelector::Value<uint8_t>(c.channel, p8), c.v8) << static_cast<int>(c.channel);
    EXPECT_EQ(fx::TonalSelector::Value<uint16_t>(c.channel, p16), c.v16) << static_cast<int>(c.channel);
  }
  // A grey has no hue and no saturation.
  const uint8_t grey[4] = {90, 90, 90, 0};
  EXPECT_EQ(fx::TonalSelector::Value<uint8_t>(ExtractOn::kHue, grey), 0);
  EXPECT_EQ(fx::TonalSelector::Value<uint8_t>(ExtractOn::kSaturation, grey), 0);
  // A blue-magenta just short of 360 degrees stays below full scale.
  const uint8_t rose[4] = {255, 0, 1, 0};
  EXPECT_EQ(fx::TonalSelector::Value<uint8_t>(ExtractOn::kHue, rose), 254);
}

TEST(TonalSelector, BandTableIsKeptPerBandAndDepth) {
  fx::TonalSelector s;
  const uint8_t* first8 = s.Table<uint8_t>(0.5, 0.4).data();
  const uint16_t* first16 = s.Table<uint16_t>(0.5, 0.4).data();
  EXPECT_EQ(s.Table<uint8_t>(0.5, 0.4).data(), first8);  // the other depth leaves it alone
  EXPECT_EQ(s.Table<uint16_t>(0.5, 0.4).data(), first16);
  EXPECT_EQ(s.Table<uint8_t>(0.5, 0.4).size(), 256u);
  EXPECT_EQ(s.Table<uint16_t>(0.5, 0.4).size(), 32769u);
  // The peak is at the centre, full scale.
  EXPECT_EQ(s.Table<uint16_t>(0.5, 0.4)[16384], 32768);
  // A new band rebuilds it.
  EXPECT_EQ(s.Table<uint8_t>(1.0, 1.0)[255], 255);
  EXPECT_EQ(s.Table<uint8_t>(1.0, 1.0)[0], 0);
  EXPECT_EQ(s.Table<uint8_t>(0.0, 1.0)[0], 255);
}

TEST(SelectionMatte, ClipStretchesTheRangeBetweenBlackAndWhite) {
  // 8-bit, 10 % each side: lo = 25, hi = trunc(229.5) = 229, m' = (m - 25) * 255 / 204.
  fx::RasterRef m = MatteOf({{0, 25, 26, 100, 128, 200, 229, 230, 255}}, false);
  fx::ClipMatte(*m, m->Bounds(), 0.1, 0.1);
  EXPECT_EQ(RowsOf(*m), (std::vector<Row>{{0, 0, 1, 93, 128, 218, 255, 255, 255}}));

  // 16-bit, black 25 %, white 50 %: (m - 8192) * 4.
  m = MatteOf({{0, 8192, 10000, 16383, 16384, 20000, 32768}}, true);
  fx::ClipMatte(*m, m->Bounds(), 0.25, 0.5);
  EXPECT_EQ(RowsOf(*m), (std::vector<Row>{{0, 0, 7232, 32764, 32768, 32768, 32768}}));

  // Black above 1 - white: a threshold at the black level.
  m = MatteOf({{0, 152, 153, 154, 255}}, false);
  fx::ClipMatte(*m, m->Bounds(), 0.6, 0.5);
  EXPECT_EQ(RowsOf(*m), (std::vector<Row>{{0, 0, 0, 255, 255}}));
  // All of both: nothing survives; all white clip: anything above 0 is full.
  m = MatteOf({{0, 1, 255}}, false);
  fx::ClipMatte(*m, m->Bounds(), 1.0, 1.0);
  EXPECT_EQ(RowsOf(*m), (std::vector<Row>{{0, 0, 0}}));
  m = MatteOf({{0, 1, 255}}, false);
  fx::ClipMatte(*m, m->Bounds(), 0, 1.0);
  EXPECT_EQ(RowsOf(*m), (std::vector<Row>{{0, 255, 255}}));
  // Outside the rectangle nothing changes.
  m = MatteOf({{100, 100, 100}}, false);
  fx::ClipMatte(*m, {0, 1, 1, 2}, 0.1, 0.1);
  EXPECT_EQ(RowsOf(*m), (std::vector<Row>{{100, 93, 100}}));
}

TEST(SelectionMatte, ShrinkGrowWithFractionalRadius) {
  struct Case {
    const char* what;
    double v, scaleX;
    Row in, out;
  };
  const Case cases[] = {
      // r = 1.5: samples within 1 at full weight, those at 2 at half weight.
      {"grow 1.5", 1.5, 1.0, {0, 0, 0, 200, 0, 0, 0, 0}, {0, 100, 200, 200, 200, 100, 0, 0}},
      // The window is clipped at the ends of the line.
      {"grow at the ends", 1.5, 1.0, {200, 0, 0, 0, 0, 0, 0, 90}, {200, 200, 100, 0, 0, 45, 90, 90}},
      // Shrinking mirrors it: the outer samples pull half way down.
      {"shrink 1.5",
       -1.5,
       1.0,
       {255, 255, 255, 55, 255, 255, 255, 255},
       {255, 155, 55, 55, 55, 155, 255, 255}},
      // The radius follows the render scale: 1 at scale 0.5 is 0.5.
      {"scaled", 1.0, 0.5, {0, 0, 200, 0, 0}, {0, 100, 200, 100, 0}},
      // Whole radii take their outermost samples at full weight.
      {"grow 2", 2.0, 1.0, {0, 0, 0, 0, 7, 0, 0, 0, 0}, {0, 0, 7, 7, 7, 7, 7, 0, 0}},
      // A window wider than the line spreads the line's maximum.
      {"wide", 40.0, 1.0, {0, 3, 9, 0}, {9, 9, 9, 9}},
      {"off", 0.0, 1.0, {0, 3, 9, 0}, {0, 3, 9, 0}},
  };
  for (const Case& c : cases) {
    fx::RasterRef m = MatteOf({c.in}, false);
    fx::ShrinkGrowMatte(*m, m->Bounds(), c.v, c.scaleX, 1.0);
    EXPECT_EQ(RowsOf(*m)[0], c.out) << c.what;
  }

  // Vertically at 16 bits, with the vertical scale.
  fx::RasterRef column = MatteOf({{0}, {0}, {0}, {20000}, {0}, {0}, {0}}, true);
  fx::ShrinkGrowMatte(*column, column->Bounds(), 0.75, 5.0, 2.0);
  EXPECT_EQ(RowsOf(*column), (std::vector<Row>{{0}, {10000}, {20000}, {20000}, {20000}, {10000}, {0}}));

  // Separable: a lone sample grown by 0.5 spreads half to its edges and a
  // quarter to its corners.
  fx::RasterRef square = MatteOf({{0, 0, 0}, {0, 200, 0}, {0, 0, 0}}, false);
  fx::ShrinkGrowMatte(*square, square->Bounds(), 0.5, 1.0, 1.0);
  EXPECT_EQ(RowsOf(*square), (std::vector<Row>{{50, 100, 50}, {100, 200, 100}, {50, 100, 50}}));
}

// The matte of the harness's Selection effect for one row of pixels.
std::vector<int32_t> MatteRow(Instance& e, const std::vector<Pixel>& pixels, bool is16Bit) {
  const fx::RasterRef out = Render(e, *MakeRaster({pixels}, is16Bit));
  std::vector<int32_t> row;
  for (int32_t x = 0; x < out->Width(); ++x) {
    const Pixel p = At(*out, x, 0);
    EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << x;
    EXPECT_EQ(p[3], is16Bit ? 32768 : 255) << x;
    row.push_back(p[0]);
  }
  return row;
}

TEST(SelectionMatte, RedBandCentredAtFullScale) {
  // Position 100 and range 50: centre 1.0, width 1.0.
  Instance e(fx::effects::kMatteGenerator);
  e.Set("extractOn", 4).Set("position", 100).Set("range", 50);
  EXPECT_EQ(MatteRow(e, {{255, 0, 0, 0}, {0, 255, 255, 0}, {255, 255, 255, 0}}, false), (Row{255, 0, 255}));
  EXPECT_EQ(MatteRow(e, {{32768, 0, 0, 0}, {0, 32768, 32768, 0}}, true), (Row{32768, 0}));
  // Inverted: full scale exactly where it was 0.
  e.Set("invert", 1);
  EXPECT_EQ(MatteRow(e, {{255, 0, 0, 0}, {0, 255, 255, 0}}, false), (Row{0, 255}));
  EXPECT_EQ(MatteRow(e, {{32768, 0, 0, 0}, {0, 32768, 32768, 0}}, true), (Row{0, 32768}));
}

TEST(SelectionMatte, InvertIsTheComplementEverywhere) {
  std::vector<Pixel> ramp;
  for (int32_t v = 0; v <= 255; v += 15) ramp.push_back({v, 255 - v, v / 2, 0});
  for (bool is16Bit : {false, true}) {
    std::vector<Pixel> pixels = ramp;
    if (is16Bit)
      for (Pixel& p : pixels)
        for (int c = 0; c < 3; ++c) p[c] *= 128;
    for (int channel = 0; channel < fx::kExtractOnCount; ++channel) {
      Instance e(fx::effects::kMatteGenerator);
      e.Set("extractOn", channel).Set("position", 40).Set("range", 30);
      const Row plain = MatteRow(e, pixels, is16Bit);
      e.Set("invert", 1);
      const Row inverted = MatteRow(e, pixels, is16Bit);
      const int32_t full = is16Bit ? 32768 : 255;
      for (std::size_t i = 0; i < plain.size(); ++i)
        EXPECT_EQ(inverted[i], full - plain[i]) << channel << " " << i << " " << is16Bit;
    }
  }
}

// A source of w x h pixels with varied colours.
fx::RasterRef Pattern(int32_t w, int32_t h, bool is16Bit) {
  std::vector<std::vector<Pixel>> rows(h, std::vector<Pixel>(w));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      Pixel p = {(x * 37 + y * 11) % 256, (x * x + 3 * y) % 256, (x * y * 7) % 256, 255};
      if (is16Bit)
        for (int c = 0; c < 4; ++c) p[c] *= 128;
      rows[y][x] = p;
    }
  return MakeRaster(rows, is16Bit);
}

// Built from a band of rows with the margins the matte asks for, the matte
// of the band's rows equals the whole image's: shrink/grow and blur reach no
// further than ExpandRect says.
TEST(SelectionMatte, BandsWithTheirMarginsMatchTheWholeImage) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef whole = Pattern(23, 40, is16Bit);
    fx::RenderInfo info;
    info.imageWidth = whole->Width();
    info.imageHeight = whole->Height();
    info.scaleX = info.scaleY = 1.0f;
    fx::MatteSettings s;
    s.extractOn = ExtractOn::kCyan;
    s.centre = 0.6;
    s.width = 0.8;
    s.shrinkGrow = 1.5;
    s.blurX = 60;  // 2.4 pixels
    s.blurY = 100;
    for (double adjust : {1.5, -2.25}) {
      s.shrinkGrow = adjust;
      fx::SelectionMatte matte;
      const fx::RasterRef reference = matte.Build(*whole, whole->Bounds(), info, s);
      for (int32_t top = 0; top < 40; top += 7) {
        fx::Rect band{top, 0, std::min(top + 7, 40), 23};
        fx::Rect need = band;
        fx::SelectionMatte::ExpandRect(info, s, need);
        EXPECT_GE(band.top - need.top, 3);  // at least the grow window
        need = need.Intersect(whole->Bounds());
        fx::RasterRef tile = fx::MakeRaster(need.Width(), need.Height(), 4, whole->BytesPerSample());
        tile->CopyRect(*whole, need, 0, 0);
        const fx::RasterRef m = matte.Build(*tile, tile->Bounds(), info, s);
        for (int32_t y = band.top; y < band.bottom; ++y)
          for (int32_t x = 0; x < 23; ++x) {
            const int32_t a = is16Bit ? reference->RowAs<uint16_t>(y)[x] : reference->RowAs<uint8_t>(y)[x];
            const int32_t b =
                is16Bit ? m->RowAs<uint16_t>(y - need.top)[x] : m->RowAs<uint8_t>(y - need.top)[x];
            ASSERT_EQ(a, b) << is16Bit << " adjust " << adjust << " band " << top << " at " << x << "," << y;
          }
      }
    }
  }
}

TEST(SelectionMatte, BlurSoftensTheMatteEdge) {
  // A hard red edge: without blur the matte steps from 0 to full scale;
  // blurred it passes through values in between on both sides.
  std::vector<Pixel> row;
  for (int32_t x = 0; x < 20; ++x) row.push_back({x < 10 ? 0 : 255, 0, 0, 0});
  std::vector<std::vector<Pixel>> rows(5, row);
  Instance e(fx::effects::kMatteGenerator);
  e.Set("extractOn", 4).Set("position", 100).Set("range", 50).Set("matteBlurX", 500);  // 2.5 pixels
  const fx::RasterRef out = Render(e, *MakeRaster(rows, false));
  EXPECT_EQ(At(*out, 0, 2)[0], 0);
  EXPECT_EQ(At(*out, 19, 2)[0], 255);
  EXPECT_GT(At(*out, 9, 2)[0], 0);
  EXPECT_LT(At(*out, 10, 2)[0], 255);
  for (int32_t x = 1; x < 20; ++x) EXPECT_GE(At(*out, x, 2)[0], At(*out, x - 1, 2)[0]) << x;
  // Ganged, the vertical radius follows; every row of a constant column
  // stays as it was.
  for (int32_t y = 0; y < 5; ++y) EXPECT_EQ(At(*out, 9, y), At(*out, 9, 2)) << y;
}

TEST(HighlightTable, IsTheBandOfWidthPointEightAtFullScale) {
  // Points (0.2, 0), (0.6, 0.2) and (1, 1) of full scale, at both depths.
  const auto check = [](auto table, int32_t L) {
    ASSERT_EQ(static_cast<int64_t>(table.size()), int64_t{L} + 1);
    for (int32_t i = 0; i <= L / 5; ++i) ASSERT_EQ(table[i], 0) << L << " at " << i;
    const int32_t mid = table[L * 6 / 10];
    EXPECT_NEAR(mid, L / 5, L / 100 + 1) << L;
    EXPECT_EQ(table[L], L) << L;
    // Between the points the band rises: the restore grows with luminance.
    for (int32_t i = L / 5 + 1; i <= L; ++i) ASSERT_GE(table[i], table[i - 1]) << L << " at " << i;
  };
  check(fx::HighlightTable<uint8_t>(), 255);
  check(fx::HighlightTable<uint16_t>(), 32768);
}

TEST(SelectionGroups, ReadersConvertTheUnits) {
  Instance e(fx::effects::kMatteGenerator);
  auto& effect = static_cast<fx::Effect&>(*e);
  constexpr fx::SelectionParams group{2};
  fx::MatteSettings s = group.Read(effect);
  EXPECT_EQ(s.extractOn, ExtractOn::kLuminance);
  EXPECT_DOUBLE_EQ(s.centre, 1.0);
  EXPECT_DOUBLE_EQ(s.width, 1.6);
  e.Set("extractOn", 9).Set("position", 30).Set("range", 20).Set("clipBlack", 5).Set("clipWhite", 7);
  e.Set("matteAdjust", -3.5).Set("matteBlurX", 12).Set("matteBlurY", 40).Set("invert", 1);
  s = group.Read(effect);
  EXPECT_EQ(s.extractOn, ExtractOn::kYellow);
  EXPECT_DOUBLE_EQ(s.centre, 0.3);
  EXPECT_DOUBLE_EQ(s.width, 0.4);
  EXPECT_DOUBLE_EQ(s.clipBlack, 0.05);
  EXPECT_DOUBLE_EQ(s.clipWhite, 0.07);
  EXPECT_EQ(s.shrinkGrow, -3.5);
  EXPECT_EQ(s.blurX, 12);
  EXPECT_EQ(s.blurY, 12);  // ganged by default
  EXPECT_TRUE(s.invert);
  e.Set("matteBlurGang", 0);
  EXPECT_EQ(group.Read(effect).blurY, 40);

  // The gang enables the vertical blur exactly while it is off.
  const int gang = fx::IndexOfKey(*e, "matteBlurGang");
  e->routines->parameterChanged(&*e, gang);
  EXPECT_TRUE(e.P("matteBlurY").Enabled());
  e.Set("matteBlurGang", 1);
  e->routines->parameterChanged(&*e, gang);
  EXPECT_FALSE(e.P("matteBlurY").Enabled());
}

// An effect as the glow family declares one: the short group spliced after
// its own rows, read at the index where it starts, the matte shown as grey.
inline constexpr const char* kTestViews[] = {"Output", "Original"};
inline constexpr auto kShortMatteParams =
    fx::Join(fx::Rows({fx::Image("input", "Input"), fx::List("view", "View", kTestViews)}),
             fx::MatteGroup({.position = 90, .range = 15, .blurMaximum = 100}));
static_assert(fx::ValidTable(kShortMatteParams));

class ShortMatteEffect final : public fx::Effect {
 public:
  static constexpr fx::MatteParams kMatte{3};
  using Effect::Effect;
  bool IsActive() const { return true; }
  void Render(fx::RenderInfo& info) {
    const fx::RasterRef m = matte_.Build(*Source(), info.area, info, kMatte.Read(*this));
    fx::ShowMatte(*m, *info.destination, info.area);
  }

 private:
  fx::SelectionMatte matte_;
};
inline constexpr fx::EffectType kShortMatteType{"Ovra Short Matte", "", kShortMatteParams, 0};
const fx::EffectRoutines& kShortMatte = fx::RoutinesOf<ShortMatteEffect, kShortMatteType>;

TEST(SelectionGroups, ShortGroupReader) {
  Instance e(kShortMatte);
  EXPECT_EQ(e->parameterCount, 7u);
  EXPECT_STREQ(e->parameters[2].key, "matte");
  EXPECT_STREQ(e->parameters[2].label, "Selection");
  EXPECT_EQ(e->parameters[3].flags & fx::kPrincipal, fx::kPrincipal);
  EXPECT_EQ(e->parameters[4].flags & fx::kPrincipal, fx::kPrincipal);
  EXPECT_EQ(e->parameters[5].Maximum(), 100);
  EXPECT_EQ(e->parameters[6].kind, fx::Kind::GroupEnd);
  auto& effect = static_cast<fx::Effect&>(*e);
  fx::MatteSettings s = ShortMatteEffect::kMatte.Read(effect);
  EXPECT_EQ(s.extractOn, ExtractOn::kLuminance);
  EXPECT_DOUBLE_EQ(s.centre, 0.9);
  EXPECT_DOUBLE_EQ(s.width, 0.3);
  e.Set("matteBlur", 7);
  s = ShortMatteEffect::kMatte.Read(effect);
  EXPECT_EQ(s.blurX, 7);
  EXPECT_EQ(s.blurY, 7);
  // Always luminance: a saturated red is selected by its luminance 76, not
  // by its red 255.
  e.Set("matteBlur", 0).Set("mattePosition", 100).Set("matteRange", 50);
  fx::TonalSelector band;
  const int32_t at76 = band.Table<uint8_t>(1.0, 1.0)[76];
  EXPECT_LT(at76, 128);
  EXPECT_EQ(MatteRow(e, {{255, 0, 0, 0}, {255, 255, 255, 0}}, false), (Row{at76, 255}));
}

TEST(MatteGenerator, ViewsAndTable) {
  Instance e(fx::effects::kMatteGenerator);
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra Selection");
  EXPECT_STREQ(e->parameters[0].key, "matte");
  EXPECT_STREQ(e->parameters[0].label, "Selection");
  EXPECT_EQ(e->parameterCount, 14u);
  EXPECT_TRUE(e.Active());
  e.Set("view", 1);
  EXPECT_TRUE(e.Active());
  e.Set("view", 2);
  EXPECT_FALSE(e.Active());
  // Both matte views give the same grey.
  Instance a(fx::effects::kMatteGenerator), b(fx::effects::kMatteGenerator);
  b.Set("view", 1);
  const fx::RasterRef src = Pattern(9, 4, false);
  const fx::RasterRef ra = Render(a, *src), rb = Render(b, *src);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 9; ++x) EXPECT_EQ(At(*ra, x, y), At(*rb, x, y));
}

TEST(MatteGenerator, ExpandRectCoversShrinkGrowAndBlur) {
  Instance e(fx::effects::kMatteGenerator);
  fx::RenderInfo info;
  info.imageWidth = 400;
  info.imageHeight = 200;
  info.scaleX = info.scaleY = 0.5f;
  fx::Rect r{50, 60, 70, 80};
  e->routines->expandRect(&*e, &info, &r);
  EXPECT_EQ(r, (fx::Rect{50, 60, 70, 80}));  // nothing at the defaults
  e.Set("matteAdjust", -5.2);                // 2.6 pixels at this scale
  r = {50, 60, 70, 80};
  e->routines->expandRect(&*e, &info, &r);
  EXPECT_EQ(r, (fx::Rect{47, 57, 73, 83}));
  e.Set("matteBlurX", 100);  // 20 pixels at 0.5 of a 400-high image
  r = {50, 60, 70, 80};
  e->routines->expandRect(&*e, &info, &r);
  EXPECT_GT(50 - r.top, 3 + 10);
  EXPECT_EQ(50 - r.top, 60 - r.left);
}

}  // namespace
