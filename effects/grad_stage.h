// The grad stage of the gel render, shared by the catalogue effects, Tint and
// Color Temperature: a filter already rendered into the destination is
// confined to a graduated mask (the unfiltered source mixed back where the
// mask is low), the image is darkened through the mask by "ND Brightness",
// and the "Grad" view shows the mask itself as grey.
//
// The effect declares the shared "Grad" group with GelGradGroup() and keeps
// its header's index:
//
//   inline constexpr auto kParams = Join(Rows({...}), GelGradGroup(true));   // header at kGrad
//   void ParameterChanged(int index) { GradStage::ParameterChanged(*this, kGrad, index); }
//   void Render(RenderInfo& info) {
//     CopyArea(*Source(), *info.destination, info.area);
//     if (view == kOutput) ...filter info.destination in place...;
//     GradStage::Read(*this, kGrad).Apply(*Source(), info, view == kGradView);
//   }
#pragma once

#include <array>
#include <span>

#include "effects/param_groups.h"
#include "framework/effect.h"
#include "framework/parameter.h"
#include "imaging/raster.h"

namespace fx {

// The gel effects' "Grad" group: a plain box (open or not), "Enable" off by
// default and notifying, only "ul" hidden.
constexpr std::array<ParamSpec, GradRows::kCount> GelGradGroup(bool open) {
  return GradGroup({.headerFlags = kPlainGroup,
                    .open = open,
                    .endFlags = kPlainGroup,
                    .enableDefault = false,
                    .hideAllCorners = false});
}

// A one-channel mask shown as grey: (m, m, m) with the source's alpha over
// rect of the four-channel destination.
void ShowMaskAsGrey(const Raster& mask, const Raster& source, Raster& destination, const Rect& rect);

struct GradStage {
  bool enabled = false;
  double nd = 0;  // "ND Brightness" as a fraction 0..1
  GradSettings shape;
  // The mask's ramp: empty for the two-sample grad of the shape's
  // direction; otherwise the samples of an n-sample gradient (fractions,
  // static storage) laid out along rampDirection.
  std::span<const double> ramp;
  GradDirection rampDirection = GradDirection::kTopToBottom;

  // The values of the group whose header is parameter `header`.
  static GradStage Read(const Effect& e, int header);
  // "gradEnable" enables or disables the rest of its group; other indexes
  // are ignored.
  static void ParameterChanged(Effect& e, int header, int index);

  // Whether the stage does anything: the grad is enabled or shown.
  bool Needed(bool showGrad) const { return enabled || showGrad; }

  // Over info.area of info.destination, which holds the filtered image of
  // `source` (same coordinates). Nothing happens when the grad is neither
  // enabled nor shown, or when the render has been cancelled. The mask is
  // the grad of the whole image at the render's scale (corners
  // ((x + 0.5) W, (y + 0.5) H), Size %, Direction), placed by the tile's
  // position, so bands join without seams.
  //   showGrad: each pixel becomes (m, m, m) with the source's alpha;
  //   otherwise: out = (F m + S (L - m)) / L, then, when ND Brightness n > 0,
  //   where m != 0: t = L - m trunc(n L) / L and out = out t / L.
  // Alpha is never written otherwise, so it stays the source's.
  void Apply(const Raster& source, RenderInfo& info, bool showGrad) const;
};

}  // namespace fx
