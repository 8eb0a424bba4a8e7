// Worker threads for the core operations. An operation splits the rows (or
// columns) of its own pass into chunks and runs them on the workers; the
// caller's thread takes part and returns once every chunk is done. Bodies
// must give the same samples whatever the split: a chunk reads what the pass
// reads and writes only its own rows, and anything position-dependent (a
// noise generator's state) comes from the row's position, never from the
// order chunks run in.
//
// Only the core operations run on workers. The host's calls (ports, advance
// state, progress, abort) stay on the thread that called the module.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "imaging/rect.h"

namespace fx {

// The number of workers the operations use: the value set with
// SetThreadCount, else OVRA_THREADS from the environment (1 gives one
// thread), else the machine's cores.
int32_t ThreadCount();
// 0 returns to the default; other values are kept within 1..256.
void SetThreadCount(int32_t count);

namespace detail {
using ChunkFn = void (*)(void* body, int32_t begin, int32_t end);
void ParallelForImpl(int32_t count, int32_t grain, ChunkFn fn, void* body);
}  // namespace detail

// Runs body(begin, end) over [0, count) in chunks of at least `grain`
// items, on up to ThreadCount() threads. With one thread, or a count within
// one chunk, it is a plain call body(0, count) on this thread. An exception
// from a body reaches the caller (the first one; the other chunks finish or
// are dropped).
template <class Body>
void ParallelFor(int32_t count, int32_t grain, Body&& body) {
  if (count <= 0) return;
  using B = std::remove_reference_t<Body>;
  detail::ParallelForImpl(
      count, grain < 1 ? 1 : grain,
      [](void* b, int32_t begin, int32_t end) { (*static_cast<B*>(b))(begin, end); },
      const_cast<void*>(static_cast<const void*>(&body)));
}

// A grain for a pass over `count` lines of `lineWork` samples each: chunks
// of about 64 K samples, so small tiles stay on one thread.
inline int32_t LineGrain(int64_t lineWork) {
  if (lineWork <= 0) return 1 << 30;
  int64_t g = (int64_t{1} << 16) / lineWork;
  return g < 1 ? 1 : static_cast<int32_t>(g > (1 << 30) ? (1 << 30) : g);
}

// ParallelFor over the rows [top, bottom) of a pass doing about lineWork
// samples of work per row: body(first, end) gets a range of row numbers.
template <class Body>
void ParallelRows(int32_t top, int32_t bottom, int64_t lineWork, Body&& body) {
  ParallelFor(bottom - top, LineGrain(lineWork),
              [&](int32_t begin, int32_t end) { body(top + begin, top + end); });
}

// Runs row(y) for every row of rect on the workers, `samples` samples of
// work per pixel: for per-pixel passes whose rows read and write only
// themselves.
template <class Row>
void ForRows(const Rect& rect, int32_t samples, Row&& row) {
  ParallelRows(rect.top, rect.bottom, int64_t{rect.Width()} * samples, [&](int32_t first, int32_t end) {
    for (int32_t y = first; y < end; ++y) row(y);
  });
}

}  // namespace fx
