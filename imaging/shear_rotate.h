// Rotation of a one-channel raster by three shears (rows, columns, rows
// again), each resampled linearly along its lines, about a centre given in
// whole-image coordinates. Every stage's raster is placed in the same frame,
// anchored at the image, so that a band of an image rotates to exactly the
// window of the whole image's rotation that it covers: each output position
// sees the same sub-pixel phases whichever band it is computed in.
#pragma once

#include <cstdint>

#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx {

// A one-channel raster whose pixel (0, 0) lies at (extent.left, extent.top)
// of the frame; it holds extent.Width() x extent.Height() pixels, and the
// frame is 0 outside it.
struct PlacedRaster {
  RasterRef raster;
  Rect extent;
};

struct Rotation {
  double degrees = 0;  // clockwise on the image (y grows downwards)
  double centreX = 0;  // frame coordinates
  double centreY = 0;
};

// The content of `in` rotated: rows shift by -tan(a/2) (y - cy), columns by
// sin a (x - cx), then rows again. Each shear reads its line at u = x - shift
// and mixes the samples at floor(u) and floor(u) + 1 with
// w = trunc(frac(u) 256): (s0 (256 - w) + s1 w) / 256. Three shears stay
// short within -45..45 degrees; beyond, the angle is the nearest whole
// number of quarter turns plus a rest within -45..45: the rest is sheared,
// then the quarter turns move pixels exactly, (x, y) to (s - y, d + x) per
// clockwise turn with s = cx + cy and d = cy - cx (a half turn
// (2 cx - x, 2 cy - y)), each rounded to the nearest whole pixel. A centre
// whose coordinates differ by half a pixel (an image whose sides differ in
// parity) thus turns half a pixel off the exact quarter turn.
//
// Without a window the result spans every integer position the content
// reaches; with one it covers exactly the window, and each stage computes
// only what the window needs of it.
PlacedRaster ShearRotate(const PlacedRaster& in, const Rotation& rotation);
PlacedRaster ShearRotate(const PlacedRaster& in, const Rotation& rotation, const Rect& window);

}  // namespace fx
