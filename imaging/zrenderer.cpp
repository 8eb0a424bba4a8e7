#include "imaging/zrenderer.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace fx {

namespace {

// A cell in 64 bits, ordered as the sweep needs it: row (bits 33 and up),
// sub-pixel column x * 256 (bits 1..32: pixel column above its position
// 0..255 inside the pixel), direction (bit 0: 1 downward, 0 upward).
constexpr int kRowShift = 33;
constexpr int kPixelShift = 9;  // key >> 9 is row and pixel column together

constexpr uint64_t MakeCell(int64_t row, int64_t subpixelX, bool down) {
  return (static_cast<uint64_t>(row) << kRowShift) | (static_cast<uint64_t>(subpixelX) << 1) |
         (down ? 1u : 0u);
}
constexpr uint32_t CellSubpixelX(uint64_t cell) {
  return static_cast<uint32_t>(cell >> 1);
}

constexpr int64_t FloorDiv(int64_t a, int64_t positive) {
  const int64_t q = a / positive;
  return (a % positive < 0) ? q - 1 : q;
}

int64_t Round(double v) {
  return static_cast<int64_t>(std::floor(v + 0.5));
}

}  // namespace

ZRenderer::ZRenderer() : box_{FLT_MAX, FLT_MAX, -FLT_MAX, -FLT_MAX} {
  cells_.reserve(10000);
}

ZRenderer::~ZRenderer() = default;

void ZRenderer::Render(const ZPath& path, const PathTransform* transform, ZStencil& target, ZFillRule rule) {
  transform_ = transform;
  cells_.clear();
  runs_.clear();
  box_ = {FLT_MAX, FLT_MAX, -FLT_MAX, -FLT_MAX};
  invalid_ = false;
  fillRule_ = rule;
  clip_ = target.Bounds().Intersect({0, 0, kMaxExtent, kMaxExtent});
  if (clip_.Empty()) clip_ = {};

  Replay(path, *this);
  if (outlineOpen_) lineTo(startX_, startY_);
  outlineOpen_ = false;

  if (invalid_) {
    cells_.clear();
    runs_.clear();
  }
  if (!cells_.empty()) {
    SortCells();
    Sweep(target);
  }
  transform_ = nullptr;
  clip_ = {};
}

void ZRenderer::Map(float x, float y, float& outX, float& outY) const {
  if (transform_ != nullptr) {
    transform_->Map(x, y, outX, outY);
  } else {
    outX = x;
    outY = y;
  }
}

void ZRenderer::begin() {
  ZSketcher::begin();
  Map(0, 0, mappedX_, mappedY_);
  outlineOpen_ = false;
}

void ZRenderer::moveTo(float x, float y) {
  if (outlineOpen_) lineTo(startX_, startY_);
  outlineOpen_ = false;
  startPending_ = true;
  ZSketcher::moveTo(x, y);
  Map(x, y, mappedX_, mappedY_);
}

void ZRenderer::lineTo(float x, float y) {
  for (const float px : {currentX_, x}) {
    if (px < box_.minX) box_.minX = px;
    if (px > box_.maxX) box_.maxX = px;
  }
  for (const float py : {currentY_, y}) {
    if (py < box_.minY) box_.minY = py;
    if (py > box_.maxY) box_.maxY = py;
  }
  float mx, my;
  Map(x, y, mx, my);
  if (!std::isfinite(mappedX_) || !std::isfinite(mappedY_) || !std::isfinite(mx) || !std::isfinite(my)) {
    invalid_ = true;
  } else if (my != mappedY_) {
    AddEdge(mappedX_, mappedY_, mx, my);
  }
  mappedX_ = mx;
  mappedY_ = my;
  ZSketcher::lineTo(x, y);
  outlineOpen_ = true;
}

void ZRenderer::close() {
  ZSketcher::close();
  outlineOpen_ = false;
}

// Pixel coordinates, finite, not horizontal. The edge is handed on from
// its upper end to its lower end with its direction.
void ZRenderer::AddEdge(double x0, double y0, double x1, double y1) {
  if (clip_.Empty()) return;
  const bool down = y1 > y0;
  if (!down) {
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
  if (y1 <= clip_.top || y0 >= clip_.bottom) return;

  const double xMin = static_cast<double>(clip_.left) - kGuardMargin;
  const double xMax = static_cast<double>(clip_.right) + kGuardMargin;
  const double yMin = static_cast<double>(clip_.top) - kGuardMargin;
  const double yMax = static_cast<double>(clip_.bottom) + kGuardMargin;
  auto inside = [&](double x, double y) { return x >= xMin && x <= xMax && y >= yMin && y <= yMax; };
  if (inside(x0, y0) && inside(x1, y1)) {
    AddSubpixelEdge(Round(x0 * kSubpixels), Round(y0 * kSubScanlines), Round(x1 * kSubpixels),
                    Round(y1 * kSubScanlines), down);
    return;
  }

  // Far outside: cut at the guard margin into a chain of pieces. Where a
  // cut point lies on a side of the margin that coordinate is set exactly;
  // the other is interpolated, which for coordinates near the float limit
  // is only approximate, so the chain is then kept inside the margin and
  // running downward: every sub-scanline is still crossed exactly once.
  struct Point {
    double x, y;
  };
  const double dx = x1 - x0, dy = y1 - y0;
  const double tStart = y0 < yMin ? (yMin - y0) / dy : 0.0;
  const double tEnd = y1 > yMax ? (yMax - y0) / dy : 1.0;
  Point chain[4];
  int n = 0;
  chain[n++] = y0 < yMin ? Point{x0 + dx * tStart, yMin} : Point{x0, y0};
  if (dx != 0) {
    struct Cut {
      double t, x;
    } cuts[2] = {{(xMin - x0) / dx, xMin}, {(xMax - x0) / dx, xMax}};
    if (cuts[0].t > cuts[1].t) std::swap(cuts[0], cuts[1]);
    for (const Cut& c : cuts)
      if (c.t > tStart && c.t < tEnd) chain[n++] = {c.x, y0 + dy * c.t};
  }
  chain[n++] = y1 > yMax ? Point{x0 + dx * tEnd, yMax} : Point{x1, y1};
  const double top = std::clamp(chain[0].y, yMin, yMax);
  const double bottom = std::clamp(chain[n - 1].y, top, yMax);
  double previous = top;
  for (int i = 0; i < n; ++i) {
    chain[i].x = std::clamp(chain[i].x, xMin, xMax);
    chain[i].y = i == n - 1 ? bottom : std::clamp(chain[i].y, previous, bottom);
    previous = chain[i].y;
  }
  for (int i = 0; i + 1 < n; ++i)
    AddSubpixelEdge(Round(chain[i].x * kSubpixels), Round(chain[i].y * kSubScanlines),
                    Round(chain[i + 1].x * kSubpixels), Round(chain[i + 1].y * kSubScanlines), down);
}

void ZRenderer::AddSubpixelEdge(int64_t x0, int64_t y0, int64_t x1, int64_t y1, bool down) {
  // The sub-scanlines whose centres the edge spans, within the clip rows.
  const int64_t first = std::max<int64_t>(y0, static_cast<int64_t>(clip_.top) * kSubScanlines);
  const int64_t end = std::min<int64_t>(y1, static_cast<int64_t>(clip_.bottom) * kSubScanlines);
  if (first >= end) return;
  // x at the centre of sub-scanline s is x0 + dx (2 (s - y0) + 1) / (2 dy):
  // an integer step plus a carried remainder.
  const int64_t dx = x1 - x0;
  const int64_t den = 2 * (y1 - y0);
  const int64_t num = dx * (2 * (first - y0) + 1);
  int64_t q = FloorDiv(num, den);
  int64_t x = x0 + q;
  int64_t rem = num - q * den;
  const int64_t stepQ = FloorDiv(2 * dx, den);
  const int64_t stepR = 2 * dx - stepQ * den;
  const int64_t lo = static_cast<int64_t>(clip_.left) * kSubpixels;
  const int64_t hi = static_cast<int64_t>(clip_.right) * kSubpixels - 1;
  const std::size_t start = cells_.size();
  cells_.resize(start + static_cast<std::size_t>(end - first));
  uint64_t* cell = cells_.data() + start;
  for (int64_t s = first; s < end; ++s) {
    *cell++ = MakeCell(s / kSubScanlines, std::clamp(x, lo, hi), down);
    x += stepQ;
    rem += stepR;
    if (rem >= den) {
      ++x;
      rem -= den;
    }
  }
  // An edge running left meets the sub-scanlines of a row right to left;
  // turned round, its cells are one sorted run for the merge.
  if (dx < 0) {
    uint64_t* const last = cells_.data() + cells_.size();
    for (uint64_t* row = cells_.data() + start; row != last;) {
      uint64_t* next = row + 1;
      while (next != last && (*next >> kRowShift) == (*row >> kRowShift)) ++next;
      std::reverse(row, next);
      row = next;
    }
  }
  if (start == 0 || cells_[start - 1] > cells_[start]) runs_.push_back(start);
}

// Natural merge sort: every edge left one sorted run; neighbouring runs
// are merged pairwise, through the reused scratch buffer, until one is left.
void ZRenderer::SortCells() {
  const std::size_t n = cells_.size();
  if (runs_.size() <= 1) return;
  if (scratch_.size() < n) scratch_.resize(n);
  uint64_t* from = cells_.data();
  uint64_t* to = scratch_.data();
  runs_.push_back(n);  // every run ends where the next begins
  while (runs_.size() > 2) {
    mergedRuns_.clear();
    const std::size_t count = runs_.size() - 1;
    for (std::size_t r = 0; r < count; r += 2) {
      const std::size_t lo = runs_[r];
      mergedRuns_.push_back(lo);
      if (r + 1 == count) {
        std::memcpy(to + lo, from + lo, (n - lo) * sizeof(uint64_t));
        break;
      }
      const uint64_t* a = from + lo;
      const uint64_t* const aEnd = from + runs_[r + 1];
      const uint64_t* b = aEnd;
      const uint64_t* const bEnd = from + runs_[r + 2];
      uint64_t* out = to + lo;
      // Branch-free: which side is taken is data, not control flow.
      while (a != aEnd && b != bEnd) {
        const bool takeB = *b < *a;
        *out++ = takeB ? *b : *a;
        b += takeB;
        a += !takeB;
      }
      out = std::copy(a, aEnd, out);
      std::copy(b, bEnd, out);
    }
    mergedRuns_.push_back(n);
    runs_.swap(mergedRuns_);
    std::swap(from, to);
  }
  if (from != cells_.data()) std::memcpy(cells_.data(), from, n * sizeof(uint64_t));
}

uint8_t ZRenderer::PixelValue(int64_t coverage) const {
  const int64_t a = coverage < 0 ? -coverage : coverage;
  if (fillRule_ == ZFillRule::kNonZero) return static_cast<uint8_t>(std::min<int64_t>(255, a));
  const int64_t v = a & 255;
  return static_cast<uint8_t>((a & 256) ? 255 - v : v);
}

uint8_t ZRenderer::RunValue(int64_t winding) const {
  const int64_t a = winding < 0 ? -winding : winding;
  if (fillRule_ == ZFillRule::kNonZero) return static_cast<uint8_t>(std::min<int64_t>(255, a * 32));
  const int64_t v = (a & 7) * 32;
  return static_cast<uint8_t>((a & 8) ? 255 - v : v);
}

// Row by row: a crossed pixel's coverage is the winding entering it (32 per
// sub-scanline) plus the part of each crossing sub-scanline right of the
// crossing; the pixels between two crossed ones take the winding alone.
void ZRenderer::Sweep(ZStencil& target) {
  if (span_.size() < static_cast<std::size_t>(clip_.Width())) span_.resize(clip_.Width());
  const uint64_t* cell = cells_.data();
  const uint64_t* const last = cell + cells_.size();
  while (cell != last) {
    const uint64_t rowKey = *cell >> kRowShift;
    const int32_t row = static_cast<int32_t>(rowKey);
    int64_t winding = 0;
    int32_t previous = -1;  // last crossed pixel of the row
    int32_t spanStart = 0;
    int32_t spanLength = 0;
    while (cell != last && (*cell >> kRowShift) == rowKey) {
      const uint64_t pixelKey = *cell >> kPixelShift;
      const int32_t column = static_cast<int32_t>(CellSubpixelX(*cell) >> 8);
      if (previous >= 0 && column > previous + 1) {
        target.WriteCoverage(row, spanStart, span_.data(), spanLength);
        spanLength = 0;
        const uint8_t run = RunValue(winding);
        if (run != 0) target.WriteSpan(row, previous + 1, column, run);
      }
      const int64_t entering = winding;
      int64_t partial = 0;  // sum of +-(255 - position) * 32
      do {
        const int64_t position = CellSubpixelX(*cell) & 255;
        if (*cell & 1) {
          partial += (255 - position) * 32;
          ++winding;
        } else {
          partial -= (255 - position) * 32;
          --winding;
        }
        ++cell;
      } while (cell != last && (*cell >> kPixelShift) == pixelKey);
      // The crossings are summed before the division: dividing each one
      // would lose up to 7/8 of a level per pixel.
      if (spanLength == 0) spanStart = column;
      span_[spanLength++] = PixelValue(entering * 32 + partial / 255);
      previous = column;
    }
    target.WriteCoverage(row, spanStart, span_.data(), spanLength);
  }
}

}  // namespace fx
