// Masks that restrict an effect to part of the frame, and the routines that
// apply them. A mask is a one-channel raster of the image's depth: 0 where
// the effect is absent, full scale (255 or 32768) where it applies fully.
//
// Every builder fills `rect` of its raster; `origin` is the whole-image
// position of the raster's (0, 0), so the pixel at (column j, row i) lies at
// (j + origin.x, i + origin.y) of the whole image at the current render
// scale. A mask of a render area is built with rect = the area and origin =
// where the area's raster lies in the image.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/quad_warp.h"
#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx {

// ------------------------------------------------------------ gradients

// Which way the ramp runs over the quadrilateral, in the order of the
// "Direction" list.
enum class GradDirection : int32_t { kTopToBottom = 0, kBottomToTop = 1, kLeftToRight = 2, kRightToLeft = 3 };
// A list index as a direction; an index outside the list is top-to-bottom.
GradDirection GradDirectionFromIndex(int32_t index);

// The n-sample gradient: a ramp raster of n samples, each of
// destination.Channels() values (1, or 4 for R, G, B, opacity) given as
// fractions and stored as trunc(value x full), laid out as n rows of one
// column (top-to-bottom; reversed for bottom-to-top) or n columns of one row
// (left-to-right; reversed for right-to-left), warped onto rect through the
// corners (in whole-image pixels) and size (Size / 100). `samples` holds n x
// channels values, sample by sample. Values are clamped to 0..1. Returns
// false, drawing nothing, for a degenerate quadrilateral or no samples.
bool MakeGradient(Raster& destination, const Rect& rect, Origin origin, const Quad& corners, double size,
                  GradDirection direction, std::span<const double> samples);

// The two-sample gradient of a one-channel mask: full scale along the
// quadrilateral's first edge (top, or left) for top-to-bottom and
// left-to-right, 0 at the opposite edge; the reverse for the other two.
bool MakeGradientMask(Raster& mask, const Rect& rect, Origin origin, const Quad& corners, double size,
                      GradDirection direction);

// ------------------------------------------------------------ spot

// An elliptical spot: 0 (clear) within `inner` of the centre, full scale at
// `outer` and beyond, a cubic transition between. Distances are in units of
// half the smaller image side; horizontal distances are first multiplied
// by horizontalFactor (1 / aspect), so aspect 2 doubles the spot's width.
struct SpotShape {
  double centreX = 0;  // whole-image pixels
  double centreY = 0;
  double side = 0;  // the smaller side of the whole image
  double inner = 0;
  double outer = 0;
  double falloff = 0;  // 0 starts the transition slowly (u^3), 1 quickly (1 - (1 - u)^3)
  double horizontalFactor = 1;
};
void MakeSpotMask(Raster& mask, const Rect& rect, Origin origin, const SpotShape& spot);

// ------------------------------------------------------------ noise

// Improved gradient noise (fade 6t^5 - 15t^4 + 10t^3, the reference
// permutation), 0 at every lattice point.
double ImprovedNoise(double x, double y, double z);

// A soft cloud pattern: with t the noise at (x / scaleX n 0.2, n (y / scaleY)
// 0.2, 0) for the whole-image position (x, y), the sample is
// ((t + 0.5) d + (1 - n)) x full, clamped and truncated. n = 0 gives full
// scale everywhere. The pattern follows the full-resolution image, so it
// looks the same at every preview scale.
void MakeNoiseMask(Raster& mask, const Rect& rect, Origin origin, double n, double d, double scaleX,
                   double scaleY);

// In place: every sample m of rect becomes m x b / full, b the sample of `by`
// at the same position (integer arithmetic).
void MultiplyMask(Raster& mask, const Raster& by, const Rect& rect);

// ------------------------------------------------------------ applying masks
//
// first, second and destination are four-channel rasters, the mask a
// one-channel raster of the same depth, all addressed with the same
// coordinates; rect is clipped to all of them. amount is 0..1 (clamped).
// R, G and B are written; the destination's alpha never is. The destination
// may be first or second itself. With k = (m x trunc(amount x 255)) / 255 in
// 8-bit or (m x trunc(amount x 32768)) >> 15 in 16-bit:

// Mixes second into first through the mask: (k second + (full - k) first) / full.
void BlendThroughMask(const Raster& first, const Raster& second, const Raster& mask, Raster& destination,
                      const Rect& rect, float amount);
// Gives the weight to first where the mask is set: pixels with k = 0 are not
// written, others become (k first + (full - k) second) / full.
void BlendWhereMasked(const Raster& first, const Raster& second, const Raster& mask, Raster& destination,
                      const Rect& rect, float amount);
// In place, where m != 0: g = full - (m trunc(amount full)) / full and each of
// R, G, B becomes c g / full (shifts by 15 in 16-bit).
void DarkenThroughMask(Raster& image, const Raster& mask, const Rect& rect, float amount);

}  // namespace fx
