// Depth of Field rendered directly: its table and enabled rows, the depth
// mask of each source against the builders it comes from, the blur through
// it, and the graduated case of a sharp bottom and a blurred top.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "effects/focus_blur.h"
#include "effects/param_groups.h"
#include "effects/selection_matte.h"
#include "imaging/quad_warp.h"
#include "imaging/separable_blur.h"
#include "imaging/texture.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/grey_png.h"

using namespace effecttest;

namespace {

constexpr int32_t Full(bool is16Bit) { return is16Bit ? 32768 : 255; }

fx::RasterRef RandomImage(int32_t w, int32_t h, bool is16Bit, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int32_t> sample(0, Full(is16Bit));
  std::vector<std::vector<Pixel>> rows(h, std::vector<Pixel>(w));
  for (auto& row : rows)
    for (Pixel& p : row) p = {sample(gen), sample(gen), sample(gen), sample(gen)};
  return MakeRaster(rows, is16Bit);
}

// Columns in black and white stripes `width` wide; alpha full.
fx::RasterRef Stripes(int32_t w, int32_t h, int32_t width, bool is16Bit) {
  const int32_t f = Full(is16Bit);
  std::vector<std::vector<Pixel>> rows(h, std::vector<Pixel>(w));
  for (auto& row : rows)
    for (int32_t x = 0; x < w; ++x) {
      const int32_t v = (x / width) % 2 == 0 ? 0 : f;
      row[x] = {v, v, v, f};
    }
  return MakeRaster(rows, is16Bit);
}

bool Same(const fx::Raster& a, const fx::Raster& b) {
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x)
      if (At(a, x, y) != At(b, x, y)) return false;
  return true;
}

void Changed(Instance& e, const std::string& key) {
  e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, key));
}

// A grey ramp picture with every value different from its neighbours'.
std::string RampPicture() {
  std::vector<std::vector<int32_t>> rows(6, std::vector<int32_t>(8));
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 8; ++x) rows[y][x] = (x * 31 + y * 43) % 256;
  return WriteGreyPng("dof_ramp.png", rows);
}

// The render information of the harness: the whole raster at scale 1.
fx::RenderInfo WholeImage(const fx::Raster& r) {
  fx::RenderInfo info;
  info.imageWidth = r.Width();
  info.imageHeight = r.Height();
  info.area = r.Bounds();
  info.outputRect = r.Bounds();
  info.is16Bit = r.Is16Bit();
  return info;
}

// ------------------------------------------------------------ the table

TEST(DepthOfField, ParameterTable) {
  Instance e(fx::effects::kDepthOfField);
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra Depth of Field");
  EXPECT_STREQ(e->routines->description(&*e), "Blur images.");
  struct Row {
    const char* key;
    const char* label;
    fx::Kind kind;
  };
  using K = fx::Kind;
  const Row rows[] = {
      {"input", "Input", K::ImageInput},        {"view", "View", K::List},
      {"depthGroup", "Depth", K::GroupStart},   {"depthSource", "Depth", K::List},
      {"depthInput", "Input", K::ImageFile},    {nullptr, nullptr, K::GroupEnd},
      {"Blur", "Blur", K::GroupStart},          {"blurX", "Horizontal Blur", K::Range},
      {"blurY", "Vertical Blur", K::Range},     {"gang", "Gang", K::Boolean},
      {nullptr, nullptr, K::GroupEnd},          {"Grad", "Grad", K::GroupStart},
      {"dir", "Direction", K::List},            {"grad_size", "Size", K::Range},
      {"ul", "Upper-Left", K::Point},           {"ur", "Upper-Right", K::Point},
      {"lr", "Lower-Right", K::Point},          {"ll", "Lower-Left", K::Point},
      {nullptr, nullptr, K::GroupEnd},          {"matte", "Selection", K::GroupStart},
      {"mattePosition", "Position", K::Range},  {"matteRange", "Range", K::Range},
      {"matteBlur", "Blur", K::Range},          {nullptr, nullptr, K::GroupEnd},
  };
  ASSERT_EQ(e->parameterCount, std::size(rows));
  for (uint32_t i = 0; i < std::size(rows); ++i) {
    const fx::Parameter& p = e->parameters[i];
    EXPECT_EQ(p.kind, rows[i].kind) << i;
    if (rows[i].key == nullptr) continue;
    EXPECT_STREQ(p.key, rows[i].key);
    EXPECT_STREQ(p.label, rows[i].label);
  }
  const char* views[] = {"Output", "Depth", "Original"};
  const char* sources[] = {"Selection", "Grad", "Input"};
  const char* directions[] = {"Top-to-bottom", "Bottom-to-top", "Left-to-right", "Right-to-left"};
  struct ListCase {
    const char* key;
    std::vector<const char*> items;
  };
  for (const ListCase& c : {ListCase{"view", {views, views + 3}}, ListCase{"depthSource", {sources, sources + 3}},
                            ListCase{"dir", {directions, directions + 4}}}) {
    ASSERT_EQ(e.P(c.key).ItemCount(), static_cast<int32_t>(c.items.size())) << c.key;
    for (std::size_t i = 0; i < c.items.size(); ++i) EXPECT_STREQ(e.P(c.key).Item(static_cast<int32_t>(i)), c.items[i]);
    EXPECT_EQ(e.P(c.key).listIndex, 0) << c.key;
  }
  struct RangeCase {
    const char* key;
    double minimum, maximum, value;
  };
  const RangeCase ranges[] = {{"blurX", 0, 1000, 20},        {"blurY", 0, 1000, 20},      {"grad_size", 1, 199, 100},
                              {"mattePosition", 0, 100, 100}, {"matteRange", 0, 100, 80}, {"matteBlur", 0, 1000, 10}};
  for (const RangeCase& r : ranges) {
    EXPECT_EQ(e.P(r.key).Minimum(), r.minimum) << r.key;
    EXPECT_EQ(e.P(r.key).Maximum(), r.maximum) << r.key;
    EXPECT_EQ(e.P(r.key).number, r.value) << r.key;
  }
  EXPECT_TRUE(e.P("gang").boolean);
  EXPECT_EQ(e.P("depthInput").ImageFileName(), nullptr);
  // The corners are controls of their own, at the image's corners.
  const fx::PointD corners[] = {{-0.5, -0.5}, {0.5, -0.5}, {0.5, 0.5}, {-0.5, 0.5}};
  int k = 0;
  for (const char* key : {"ul", "ur", "lr", "ll"}) {
    EXPECT_EQ(e.P(key).flags & fx::kHidden, 0u) << key;
    EXPECT_EQ(e.P(key).point.x, corners[k].x) << key;
    EXPECT_EQ(e.P(key).point.y, corners[k].y) << key;
    ++k;
  }
  for (const char* key : {"blurX", "blurY", "gang", "depthSource"})
    EXPECT_NE(e.P(key).flags & fx::kNotify, 0u) << key;
  for (const char* key : {"view", "depthInput", "dir", "matteBlur"}) EXPECT_EQ(e.P(key).flags & fx::kNotify, 0u) << key;
}

// The source in use enables its own rows only, from the start; the gang
// keeps the vertical blur on the horizontal one.
TEST(DepthOfField, TheDepthSourceEnablesItsOwnRows) {
  const std::vector<std::string> file = {"depthInput"};
  const std::vector<std::string> grad = {"dir", "grad_size", "ul", "ur", "lr", "ll"};
  const std::vector<std::string> matte = {"mattePosition", "matteRange", "matteBlur"};
  Instance e(fx::effects::kDepthOfField);
  for (int source : {0, 2, 1, 0}) {
    if (source != 0 || e.P("depthSource").listIndex != 0) {
      e.Set("depthSource", source);
      Changed(e, "depthSource");
    }
    for (const auto& key : file) EXPECT_EQ(e.P(key).Enabled(), source == 2) << key << " " << source;
    for (const auto& key : grad) EXPECT_EQ(e.P(key).Enabled(), source == 1) << key << " " << source;
    for (const auto& key : matte) EXPECT_EQ(e.P(key).Enabled(), source == 0) << key << " " << source;
    for (const char* key : {"view", "blurX", "gang"}) EXPECT_TRUE(e.P(key).Enabled()) << key;
  }
  e.Set("blurX", 70);
  Changed(e, "blurX");
  EXPECT_EQ(e.P("blurY").number, 70);
  EXPECT_FALSE(e.P("blurY").Enabled());
  e.Set("gang", 0);
  Changed(e, "gang");
  EXPECT_TRUE(e.P("blurY").Enabled());
}

TEST(DepthOfField, IsActive) {
  struct Case {
    int view;
    double blurX, blurY;
    bool gang;
    bool active;
  };
  const Case cases[] = {
      {0, 20, 20, true, true},   {0, 0, 20, true, false},  {0, 0, 0, false, false}, {0, 0, 5, false, true},
      {0, 5, 0, false, true},    {1, 0, 0, true, true},    {2, 20, 20, true, false},
  };
  for (const Case& c : cases) {
    Instance e(fx::effects::kDepthOfField);
    e.Set("view", c.view).Set("blurX", c.blurX).Set("blurY", c.blurY).Set("gang", c.gang);
    EXPECT_EQ(e.Active(), c.active) << c.view << " " << c.blurX << " " << c.blurY << " " << c.gang;
  }
}

// ------------------------------------------------------------ the mask

// View "Depth" shows, for each source, what its builder makes of the same
// settings, as grey with full alpha.
TEST(DepthOfField, TheDepthViewIsTheMaskOfEachSource) {
  const std::string ramp = RampPicture();
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = RandomImage(37, 23, is16Bit, 5);
    const fx::RenderInfo info = WholeImage(*source);
    fx::RasterRef want = fx::MakeRaster(37, 23, 1, source->BytesPerSample());

    for (int s = 0; s < 3; ++s) {
      Instance e(fx::effects::kDepthOfField);
      e.Set("view", 1).Set("depthSource", s);
      want->Fill(0);
      if (s == 0) {
        e.Set("mattePosition", 40).Set("matteRange", 30).Set("matteBlur", 60);
        fx::MatteSettings m;
        m.centre = 0.4;
        m.width = 0.6;
        m.blurX = m.blurY = 60;
        fx::SelectionMatte matte;
        want = matte.Build(*source, source->Bounds(), info, m);
      } else if (s == 1) {
        e.Set("dir", 2).Set("grad_size", 60);
        fx::SetPoint(e.P("ur"), {0.3, -0.4});
        fx::SetPoint(e.P("ll"), {-0.5, 0.2});
        fx::GradSettings g;
        g.direction = 2;
        g.size = 60;
        g.corners[1] = {0.3, -0.4};
        g.corners[3] = {-0.5, 0.2};
        ASSERT_TRUE(fx::MakeGradMask(*want, want->Bounds(), {}, g, 37, 23));
      } else {
        fx::SetImageFile(e.P("depthInput"), ramp);
        const fx::RasterRef picture = fx::LoadTexture(ramp.c_str(), is16Bit);
        ASSERT_TRUE(picture);
        fx::QuadWarp(*picture, *want, want->Bounds(), {}, fx::ImageQuad(37, 23));
      }
      const fx::RasterRef shown = Render(e, *source);
      int32_t spread = 0;
      for (int32_t y = 0; y < 23; ++y)
        for (int32_t x = 0; x < 37; ++x) {
          const int32_t m = is16Bit ? want->RowAs<uint16_t>(y)[x] : want->RowAs<uint8_t>(y)[x];
          spread = std::max(spread, m);
          ASSERT_EQ(At(*shown, x, y), (Pixel{m, m, m, Full(is16Bit)})) << s << " at " << x << "," << y;
        }
      EXPECT_GT(spread, Full(is16Bit) / 4) << "source " << s << " shows something";
    }
  }
}

// A depth picture that is missing, unnamed or all black blurs nothing: the
// output is the source bit for bit.
TEST(DepthOfField, NoDepthGivesTheSource) {
  const std::string black = WriteGreyPng("dof_black.png", std::vector<std::vector<int32_t>>(5, std::vector<int32_t>(7, 0)));
  const std::string missing = testing::TempDir() + "dof_no_such_picture.png";
  for (bool is16Bit : {false, true})
    for (const std::string& name : {black, missing, std::string()}) {
      const fx::RasterRef source = RandomImage(30, 20, is16Bit, 7);
      Instance e(fx::effects::kDepthOfField);
      e.Set("depthSource", 2).Set("blurX", 200);
      fx::SetImageFile(e.P("depthInput"), name);
      EXPECT_TRUE(Same(*Render(e, *source), *source)) << "'" << name << "' " << is16Bit;
      // Without a picture there is no mask to show either.
      if (name != black) {
        e.Set("view", 1);
        EXPECT_TRUE(Same(*Render(e, *source), *source)) << "'" << name << "' " << is16Bit;
      }
    }
}

// ------------------------------------------------------------ the blur

// The output is the Gaussian of Fast Blur's radii through the mask, each
// direction with its own radius.
TEST(DepthOfField, OutputIsTheMaskedGaussian) {
  const std::string ramp = RampPicture();
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = RandomImage(41, 29, is16Bit, 9);
    Instance e(fx::effects::kDepthOfField);
    e.Set("depthSource", 2).Set("gang", 0).Set("blurX", 150).Set("blurY", 60);
    fx::SetImageFile(e.P("depthInput"), ramp);
    const fx::RasterRef out = Render(e, *source);

    const fx::RasterRef picture = fx::LoadTexture(ramp.c_str(), is16Bit);
    ASSERT_TRUE(picture);
    fx::RasterRef mask = fx::MakeRaster(41, 29, 1, source->BytesPerSample());
    mask->Fill(0);
    fx::QuadWarp(*picture, *mask, mask->Bounds(), {}, fx::ImageQuad(41, 29));
    fx::RasterRef want = fx::MakeRaster(41, 29, 4, source->BytesPerSample());
    want->CopyRect(*source, source->Bounds(), 0, 0);
    fx::SeparableBlur blur;
    blur.SetMode(fx::SeparableBlur::kGaussian);
    blur.SetPasses(1);
    blur.SetRadii(static_cast<float>(150 * 0.001 * 29), static_cast<float>(60 * 0.001 * 29));
    blur.BlurMasked(*want, want->Bounds(), *mask);
    EXPECT_TRUE(Same(*out, *want)) << is16Bit;
    EXPECT_FALSE(Same(*out, *source)) << is16Bit;
  }
}

TEST(DepthOfField, GangOnIgnoresTheVerticalBlur) {
  const fx::RasterRef source = RandomImage(24, 30, false, 3);
  Instance ganged(fx::effects::kDepthOfField), freed(fx::effects::kDepthOfField),
      reference(fx::effects::kDepthOfField);
  for (Instance* e : {&ganged, &freed, &reference}) e->Set("depthSource", 1);
  ganged.Set("blurX", 100).Set("blurY", 0);
  freed.Set("blurX", 100).Set("blurY", 0).Set("gang", 0);
  reference.Set("blurX", 100).Set("blurY", 100).Set("gang", 0);
  const fx::RasterRef a = Render(ganged, *source), b = Render(freed, *source), c = Render(reference, *source);
  EXPECT_TRUE(Same(*a, *c));
  EXPECT_FALSE(Same(*a, *b));
}

// The default ramp, top to bottom, over vertical stripes: the top row is
// Fast Blur's Gaussian of the same radius (within one unit), the bottom row
// at 8 bits, whose mask is trunc(255 / H) = 0, the source itself. At 16 bits
// the bottom row's mask is about 32768 / H: blurred lightly.
TEST(DepthOfField, GradBlursTheTopFullyAndLeavesTheBottomSharp) {
  constexpr int32_t kW = 48, kH = 256;
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = Stripes(kW, kH, 3, is16Bit);
    Instance dof(fx::effects::kDepthOfField), fast(fx::effects::kFastBlur);
    dof.Set("depthSource", 1).Set("blurX", 20);
    fast.Set("quality", 1).Set("blurX", 20);
    const fx::RasterRef out = Render(dof, *source), blurred = Render(fast, *source);
    int32_t changed = 0;
    for (int32_t x = 0; x < kW; ++x) {
      for (int c = 0; c < 4; ++c) EXPECT_NEAR(At(*out, x, 0)[c], At(*blurred, x, 0)[c], 1) << x << " " << is16Bit;
      changed += At(*out, x, 0) != At(*source, x, 0);
    }
    EXPECT_GT(changed, kW / 2) << is16Bit;
    dof.Set("view", 1);
    const fx::RasterRef mask = Render(dof, *source);
    EXPECT_EQ(At(*mask, 0, 0)[0], Full(is16Bit));
    if (!is16Bit) {
      EXPECT_EQ(At(*mask, 0, kH - 1)[0], 0);
      for (int32_t x = 0; x < kW; ++x) EXPECT_EQ(At(*out, x, kH - 1), At(*source, x, kH - 1)) << x;
    } else {
      EXPECT_GT(At(*mask, 0, kH - 1)[0], 0);
      EXPECT_LE(At(*mask, 0, kH - 1)[0], 32768 / kH);
    }
  }
}

}  // namespace
