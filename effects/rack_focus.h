// The aperture of Rack Focus: a lens-diaphragm shape (a polygon whose
// corners round off with the curvature) rasterised into a square stencil,
// and the stamping of highlights through it.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/effect.h"
#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx::effects {

struct ApertureShape {
  int32_t facets = 5;
  float curvature = 1;  // 0 a straight polygon, 1 curves meeting at the edge midpoints
  float angle = 0;      // degrees, clockwise on screen
  float diameter = 0;   // of the corners' circle, pixels
};

// The side of the square stencil of an aperture of this diameter turned by
// angle degrees: trunc(|ceil(D) cos a| + |ceil(D) sin a|), made odd.
int32_t ApertureExtent(float diameter, float angleDegrees);

// The aperture's coverage in a one-channel s x s raster of the depth, the
// shape centred at (s / 2, s / 2). Empty (all 0) for a zero diameter.
RasterRef ApertureStencil(const ApertureShape& shape, bool is16Bit);

// A stencil as the runs of non-zero samples of each of its rows: what the
// stamping needs, and small whatever the stencil's area.
struct StencilRuns {
  struct Run {
    int32_t row;
    int32_t begin;  // first column
    int32_t end;    // one past the last
  };
  int32_t extent = 0;
  std::vector<Run> runs;  // by row, then column

  static StencilRuns Of(const Raster& stencil);
};

// The aperture's stencil as its runs, drawn a band of rows at a time: at
// extreme settings the extent reaches several thousand pixels.
StencilRuns ApertureRuns(const ApertureShape& shape, bool is16Bit);

// Stamps every pixel of `highlights` (four channels) with the stencil
// centred on it (its top-left corner at x - s / 2, y - s / 2), clipped to
// area: each sample of `out` within area becomes the largest of the stamped
// values reaching it, 0 where none does. A flat dilation: one running
// maximum per stencil run and row, so the cost follows the stencil's rows,
// not its area. Polls info (when given) for abort every 20 rows; false when
// aborted, with `out` incomplete.
bool StampHighlights(const Raster& highlights, const StencilRuns& stencil, Raster& out, const Rect& area,
                     RenderInfo* info = nullptr);

}  // namespace fx::effects
