// Anti-aliased filling of paths. Every edge is walked one sub-scanline at a
// time (8 per pixel row) and leaves one cell per crossing: its row, its
// column with a position 0..255 inside the pixel, and its direction. The
// cells, sorted, give each row's coverage in one sweep: exact area of the
// crossed pixels, the accumulated winding between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/rect.h"
#include "imaging/zpath.h"
#include "imaging/zsketcher.h"
#include "imaging/zstencil.h"
#include "imaging/ztransform.h"

namespace fx {

enum class ZFillRule : int32_t { kNonZero = 0, kEvenOdd = 1 };

// Extent of the points a render drew, before the transformation; the
// minima start at the largest float and the maxima at its negative.
struct ZBounds {
  float minX;
  float minY;
  float maxX;
  float maxY;
};

class ZRenderer : public ZSketcher {
 public:
  static constexpr int32_t kSubpixels = 256;   // positions across a pixel
  static constexpr int32_t kSubScanlines = 8;  // sub-scanlines per pixel row
  // Pixels beyond this in either direction are never painted, which keeps
  // every cell coordinate and step product well inside 64 bits.
  static constexpr int32_t kMaxExtent = 1 << 24;
  // Edges reaching further than this many pixels outside the target are
  // cut at that margin first (in double precision): the parts beyond it
  // left or right become vertical edges there, which cover the target
  // exactly as before; the parts above or below draw nothing.
  static constexpr int32_t kGuardMargin = 1 << 16;

  ZRenderer();
  ~ZRenderer() override;

  // Fills the path, mapped through transform (none: as it is), into the
  // target within its bounds. Open subpaths are filled as if closed. A
  // path with a non-finite point (after mapping) draws nothing.
  void Render(const ZPath& path, const PathTransform* transform, ZStencil& target, ZFillRule rule);
  void Render(const ZPath& path, const PathTransform& transform, ZStencil& target, ZFillRule rule) {
    Render(path, &transform, target, rule);
  }

  // Path consumer operations, used by Render through Replay. In the
  // renderer every moveTo starts a new subpath, closing an open one.
  void begin() override;
  void moveTo(float x, float y) override;
  void lineTo(float x, float y) override;
  void close() override;

  const ZBounds& BoundingBox() const { return box_; }
  // Cells the last render produced.
  std::size_t CellCount() const { return cells_.size(); }

 private:
  void Map(float x, float y, float& outX, float& outY) const;
  void AddEdge(double x0, double y0, double x1, double y1);
  void AddSubpixelEdge(int64_t x0, int64_t y0, int64_t x1, int64_t y1, bool down);
  void SortCells();
  void Sweep(ZStencil& target);
  uint8_t PixelValue(int64_t coverage) const;
  uint8_t RunValue(int64_t winding) const;

  const PathTransform* transform_ = nullptr;
  std::vector<uint64_t> cells_;
  std::vector<uint64_t> scratch_;        // merge sort
  std::vector<std::size_t> runs_;        // where each sorted run of cells starts
  std::vector<std::size_t> mergedRuns_;  // the same after a merge pass
  std::vector<uint8_t> span_;            // coverage of one row's crossed pixels
  Rect clip_;                            // where cells may fall; empty outside Render
  ZFillRule fillRule_ = ZFillRule::kNonZero;
  ZBounds box_;
  float mappedX_ = 0;  // the current point after mapping
  float mappedY_ = 0;
  bool outlineOpen_ = false;  // lines drawn since the subpath started
  bool invalid_ = false;      // a non-finite point was drawn
};

}  // namespace fx
