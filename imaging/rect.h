// Half-open rectangle: rows top..bottom-1, columns left..right-1.
#pragma once

#include <algorithm>
#include <cstdint>

namespace fx {

struct Rect {
  int32_t top = 0;
  int32_t left = 0;
  int32_t bottom = 0;
  int32_t right = 0;

  constexpr int32_t Width() const { return right - left; }
  constexpr int32_t Height() const { return bottom - top; }
  constexpr bool Empty() const { return right <= left || bottom <= top; }
  constexpr bool Contains(int32_t x, int32_t y) const {
    return x >= left && x < right && y >= top && y < bottom;
  }
  constexpr Rect Intersect(const Rect& o) const {
    return {std::max(top, o.top), std::max(left, o.left), std::min(bottom, o.bottom),
            std::min(right, o.right)};
  }
  constexpr Rect Grown(int32_t rows, int32_t columns) const {
    return {top - rows, left - columns, bottom + rows, right + columns};
  }
  friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace fx
