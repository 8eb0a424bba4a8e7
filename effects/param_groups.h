// Parameter groups that several effect families share: the "Grad" and "Spot"
// mask groups and the film grain group. Each is a set of table rows to
// splice into an effect's own table with fx::Join, plus a reader that turns
// an instance's current values into mask geometry or grain settings:
//
//   inline constexpr auto kColorGradParams = fx::Join(
//       fx::Rows({fx::Image("input", "Input"), ...}),
//       fx::GradGroup());                       // rows 9..18
//   static_assert(fx::ValidTable(kColorGradParams));
//   ...
//   const fx::GradSettings grad = fx::ReadGradShape(*this, 9 + fx::GradRows::kDirection);
//   fx::MakeGradMask(*mask, info.area, fx::TileOrigin(info), grad, info.imageWidth, info.imageHeight);
//
// Keys, labels, ranges and flags are written here once; an effect changes
// only what its table says differs (a default, the header's flags).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "framework/effect.h"
#include "framework/parameter.h"
#include "imaging/film_grain.h"
#include "imaging/masks.h"
#include "imaging/quad_warp.h"
#include "imaging/raster.h"

namespace fx {

// ---------------------------------------------------------------- placing a tile

// The whole-image position of the destination raster's pixel (0, 0) during
// a render: where the tile (the output band grown by the effect's margins)
// starts. marginLeft and marginTop are what the effect's expand rectangle
// adds on those sides (0 for an effect without neighbourhood). The render
// loop floors a grown band at the image edge; a preview tile is reported
// with its output rectangle equal to the whole tile; both are allowed for.
inline Origin TileOrigin(const RenderInfo& info, int32_t marginLeft = 0, int32_t marginTop = 0) {
  const Rect& out = info.outputRect;
  const int32_t extraX = std::max(0, info.area.Width() - out.Width());
  const int32_t extraY = std::max(0, info.area.Height() - out.Height());
  const int32_t dx = std::clamp(marginLeft, 0, std::max(0, std::min(out.left, extraX)));
  const int32_t dy = std::clamp(marginTop, 0, std::max(0, std::min(out.top, extraY)));
  return {out.left - dx, out.top - dy};
}

// ---------------------------------------------------------------- Grad

inline constexpr const char* kGradDirectionItems[] = {"Top-to-bottom", "Bottom-to-top", "Left-to-right",
                                                      "Right-to-left"};
// Strip Grad's list: "Horizontal" lays the ramp top to bottom (a horizontal
// strip), "Vertical" left to right.
inline constexpr const char* kStripDirectionItems[] = {"Horizontal", "Vertical"};

// Where an effect's Grad group differs from the shared one.
struct GradOptions {
  uint32_t headerFlags = 0;  // e.g. kPlainGroup
  bool open = false;
  uint32_t endFlags = 0;
  bool enableDefault = true;
  // The graduated filters hide all four corners (they are edited by their
  // preview handles only); the colour and gel effects flag "ul" alone; a
  // group whose corners are all controls hides none.
  bool hideAllCorners = true;
  bool hideUpperLeft = true;
  std::span<const char* const> directions = kGradDirectionItems;
  double sizeDefault = 100;
};

// Positions of the rows inside GradGroup().
struct GradRows {
  enum : int {
    kHeader,
    kEnable,
    kNd,
    kDirection,
    kSize,
    kUpperLeft,
    kUpperRight,
    kLowerRight,
    kLowerLeft,
    kEnd,
    kCount
  };
};

constexpr ParamSpec GradEnableRow(const GradOptions& o = {}) {
  return Bool("gradEnable", "Enable", o.enableDefault).Flags(kNotify);
}
constexpr ParamSpec GradNdRow() {
  return Range("grad_nd", "ND Brightness", 0, 100, 0);
}

// "dir", "grad_size" and the four corners.
constexpr std::array<ParamSpec, 6> GradShapeRows(const GradOptions& o = {}) {
  const uint32_t otherCorners = o.hideAllCorners ? static_cast<uint32_t>(kHidden) : 0u;
  const uint32_t upperLeft = o.hideAllCorners || o.hideUpperLeft ? static_cast<uint32_t>(kHidden) : 0u;
  return {List("dir", "Direction", o.directions),
          Range("grad_size", "Size", 1, 199, o.sizeDefault),
          Point("ul", "Upper-Left", {-0.5, -0.5}).Flags(upperLeft),
          Point("ur", "Upper-Right", {0.5, -0.5}).Flags(otherCorners),
          Point("lr", "Lower-Right", {0.5, 0.5}).Flags(otherCorners),
          Point("ll", "Lower-Left", {-0.5, 0.5}).Flags(otherCorners)};
}

// The whole group: header, "gradEnable", "grad_nd", the shape rows, end.
constexpr std::array<ParamSpec, GradRows::kCount> GradGroup(const GradOptions& o = {}) {
  return Join(Rows({Group("Grad", "Grad", o.open).Flags(o.headerFlags), GradEnableRow(o), GradNdRow()}),
              GradShapeRows(o), Rows({End().Flags(o.endFlags)}));
}

// The group without "gradEnable" and "grad_nd" (the gradient is always on):
// header, the shape rows, end.
constexpr std::array<ParamSpec, 8> GradShapeGroup(const GradOptions& o = {}) {
  return Join(Rows({Group("Grad", "Grad", o.open).Flags(o.headerFlags)}), GradShapeRows(o),
              Rows({End().Flags(o.endFlags)}));
}

// The shape rows' values: direction list index, Size in percent, corners as
// fractions of the image measured from its centre.
struct GradSettings {
  int32_t direction = 0;
  double size = 100;
  std::array<PointD, 4> corners{PointD{-0.5, -0.5}, PointD{0.5, -0.5}, PointD{0.5, 0.5}, PointD{-0.5, 0.5}};

  // Corners in whole-image pixels, (x + 0.5) W and (y + 0.5) H, not
  // truncated.
  Quad Corners(int32_t imageWidth, int32_t imageHeight) const {
    Quad q;
    for (int k = 0; k < 4; ++k)
      q[k] = {(corners[k].x + 0.5) * imageWidth, (corners[k].y + 0.5) * imageHeight};
    return q;
  }
  GradDirection Direction() const { return GradDirectionFromIndex(direction); }
};

// Reads "dir", "grad_size" and the corners from their row directionIndex on.
inline GradSettings ReadGradShape(const Effect& e, int directionIndex) {
  GradSettings g;
  g.direction = e.ListIndex(directionIndex);
  g.size = e.RangeValue(directionIndex + 1);
  for (int k = 0; k < 4; ++k) g.corners[k] = e.PointValue(directionIndex + 2 + k);
  return g;
}

// The two-sample gradient mask of the settings over rect of a one-channel
// mask (origin as in the mask builders); false for a degenerate
// quadrilateral, leaving the mask as it was.
inline bool MakeGradMask(Raster& mask, const Rect& rect, Origin origin, const GradSettings& g,
                         int32_t imageWidth, int32_t imageHeight) {
  return MakeGradientMask(mask, rect, origin, g.Corners(imageWidth, imageHeight), g.size / 100,
                          g.Direction());
}

// Strip Grad's direction list index as the ramp's direction.
constexpr GradDirection StripDirection(int32_t index) {
  return index == 1 ? GradDirection::kLeftToRight : GradDirection::kTopToBottom;
}

// Enables or disables every parameter after `index` up to the end of its
// group, as "gradEnable" switches the rest of the Grad group.
inline void EnableRestOfGroup(Effect& e, int index, bool on) {
  for (int i = index + 1; i < static_cast<int>(e.parameterCount); ++i) {
    if (e.Param(i).kind == Kind::GroupEnd) break;
    SetEnabled(e.Param(i), on);
  }
}

// ---------------------------------------------------------------- Spot

struct SpotOptions {
  uint32_t headerFlags = 0;
  bool open = false;
  uint32_t endFlags = 0;
  double radiusDefault = 0;
};

// Positions of the rows inside SpotGroup().
struct SpotRows {
  enum : int { kHeader, kPosition, kAspect, kRadius, kFalloffRadius, kFalloff, kEnd, kCount };
};

constexpr std::array<ParamSpec, SpotRows::kCount> SpotGroup(const SpotOptions& o = {}) {
  return {Group("spot", "Spot", o.open).Flags(o.headerFlags),
          Point("pos", "Position", {0, 0}),
          Range("sAspect", "Aspect", 20, 300, 100),
          Range("sRadius", "Radius", 0, 200, o.radiusDefault),
          Range("sFalloffRadius", "Falloff Radius", 0, 500, 100),
          Range("sFalloff", "Falloff", 0, 100, 0),
          End().Flags(o.endFlags)};
}

// The Spot group's values in their units: centre as a fraction of the image
// from its centre, aspect, radii and falloff in percent.
struct SpotSettings {
  PointD position;
  double aspect = 100;
  double radius = 0;
  double falloffRadius = 100;
  double falloff = 0;

  // The mask geometry on a whole image of this size: the centre in whole
  // pixels, trunc((x + 0.5) W), radii in units of half the smaller side.
  SpotShape Shape(int32_t imageWidth, int32_t imageHeight) const {
    SpotShape s;
    s.centreX = static_cast<double>(PixelOf(position.x, imageWidth));
    s.centreY = static_cast<double>(PixelOf(position.y, imageHeight));
    s.side = std::min(imageWidth, imageHeight);
    s.inner = radius / 100;
    s.outer = s.inner + falloffRadius / 100;
    s.falloff = falloff / 100;
    s.horizontalFactor = 1 / (aspect / 100);
    return s;
  }

 private:
  static int32_t PixelOf(double fraction, int32_t size) {
    const double p = (fraction + 0.5) * size;
    // Points applied from outside are finite and bounded; this only keeps a
    // hand-made value from an undefined conversion.
    if (!(p > -1e9)) return 0;
    return static_cast<int32_t>(std::min(p, 1e9));
  }
};

// Reads "pos", "sAspect", "sRadius", "sFalloffRadius" and "sFalloff" from
// their row positionIndex on.
inline SpotSettings ReadSpot(const Effect& e, int positionIndex) {
  SpotSettings s;
  s.position = e.PointValue(positionIndex);
  s.aspect = e.RangeValue(positionIndex + 1);
  s.radius = e.RangeValue(positionIndex + 2);
  s.falloffRadius = e.RangeValue(positionIndex + 3);
  s.falloff = e.RangeValue(positionIndex + 4);
  return s;
}

// ---------------------------------------------------------------- film grain

// The group's defaults; an effect whose FilmGrain starts elsewhere (Faux
// Film: amounts 25) declares the group with its own.
struct GrainDefaults {
  double size = 1;
  double amount = 15;
  double softness = 0;
  double position = 50;
  double range = 80;
  double minimum = 20;
};

// Positions of the rows inside GrainGroup().
struct GrainRows {
  enum : int {
    kRedSize,
    kGreenSize,
    kBlueSize,
    kRedAmount,
    kGreenAmount,
    kBlueAmount,
    kRedSoftness,
    kGreenSoftness,
    kBlueSoftness,
    kResponse,  // the "Film Response" header
    kPosition,
    kRange,
    kMinimum,
    kEnd,
    kCount
  };
};

// Sizes, amounts and softness per channel (marked 0x100, 0x200, 0x400 for
// red, green and blue), then the "Film Response" group (marked as red) with
// position, range and minimum, closed by its end.
constexpr std::array<ParamSpec, GrainRows::kCount> GrainGroup(const GrainDefaults& d = {}) {
  return {Range("grainRSize", "Red Size", 1, 10, d.size).Flags(kRedMark | kWholeNumbers),
          Range("grainGSize", "Green Size", 1, 10, d.size).Flags(kGreenMark | kWholeNumbers),
          Range("grainBSize", "Blue Size", 1, 10, d.size).Flags(kBlueMark | kWholeNumbers),
          Range("grainRAmount", "Red Amount", 0, 100, d.amount).Flags(kRedMark | kPrincipal),
          Range("grainGAmount", "Green Amount", 0, 100, d.amount).Flags(kGreenMark | kPrincipal),
          Range("grainBAmount", "Blue Amount", 0, 100, d.amount).Flags(kBlueMark | kPrincipal),
          Range("grainRSoftness", "Red Softness", 0, 100, d.softness).Flags(kRedMark),
          Range("grainGSoftness", "Green Softness", 0, 100, d.softness).Flags(kGreenMark),
          Range("grainBSoftness", "Blue Softness", 0, 100, d.softness).Flags(kBlueMark),
          Group("grainResponse", "Film Response").Flags(kRedMark),
          Range("grainPos", "Position", 0, 100, d.position),
          Range("grainRange", "Range", 0, 100, d.range),
          Range("grainMin", "Minimum", 0, 100, d.minimum),
          End()};
}

// The group's twelve values, its first row at firstIndex. The Grain effect
// keeps the same quantities in the same order under keys of its own, with
// its response rows straight after the softness: it passes where they start.
inline FilmGrain::GroupValues ReadGrainGroup(const Effect& e, int firstIndex, int responseIndex = -1) {
  if (responseIndex < 0) responseIndex = firstIndex + GrainRows::kPosition;
  FilmGrain::GroupValues v;
  for (int c = 0; c < 3; ++c) {
    v.size[c] = e.RangeValue(firstIndex + GrainRows::kRedSize + c);
    v.amount[c] = e.RangeValue(firstIndex + GrainRows::kRedAmount + c);
    v.softness[c] = e.RangeValue(firstIndex + GrainRows::kRedSoftness + c);
  }
  v.position = e.RangeValue(responseIndex);
  v.range = e.RangeValue(responseIndex + 1);
  v.minimum = e.RangeValue(responseIndex + 2);
  return v;
}

// What FilmGrain::Render needs to know of the render: the whole image, the
// tile, and where info.area lies in the image (margins as for TileOrigin).
inline GrainTile GrainTileOf(const RenderInfo& info, int32_t marginLeft = 0, int32_t marginTop = 0) {
  const Origin o = TileOrigin(info, marginLeft, marginTop);
  GrainTile t;
  t.imageWidth = info.imageWidth;
  t.imageHeight = info.imageHeight;
  t.origin = {o.x + info.area.left, o.y + info.area.top};
  t.tileIndex = info.tileIndex;
  t.tileCount = info.tileCount;
  return t;
}

}  // namespace fx
