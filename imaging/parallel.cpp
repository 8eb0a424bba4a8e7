#include "imaging/parallel.h"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace fx {
namespace {

constexpr int32_t kMaxThreads = 256;

std::atomic<int32_t> gChosen{0};  // SetThreadCount's value, 0 none

int32_t DefaultThreads() {
  static const int32_t value = [] {
    if (const char* env = std::getenv("OVRA_THREADS"); env != nullptr && *env != '\0') {
      char* end = nullptr;
      long n = std::strtol(env, &end, 10);
      if (end != env && *end == '\0' && n >= 1) return static_cast<int32_t>(n > kMaxThreads ? kMaxThreads : n);
    }
    unsigned hw = std::thread::hardware_concurrency();
    return static_cast<int32_t>(hw == 0 ? 1 : (hw > kMaxThreads ? kMaxThreads : hw));
  }();
  return value;
}

// One arena per thread count, made on first use and kept: an arena holds
// its workers, and the count changes rarely (tests, --threads).
tbb::task_arena& ArenaFor(int32_t threads) {
  static std::mutex mutex;
  static std::unique_ptr<tbb::task_arena> arenas[kMaxThreads + 1];
  std::lock_guard<std::mutex> lock(mutex);
  auto& slot = arenas[threads];
  if (!slot) slot = std::make_unique<tbb::task_arena>(threads);
  return *slot;
}

#if defined(__SANITIZE_THREAD__)
// The race detector cannot see the order the library's task hand-over
// gives, that code not being built with it, and reports the hand-over
// itself. Under the detector the chunks run on plain threads instead,
// started and joined for each call, whose order it does see: what it checks
// there is the bodies.
void RunOnPlainThreads(int32_t count, int32_t grain, int32_t threads, detail::ChunkFn fn, void* body) {
  const auto chunks = static_cast<int32_t>(std::min<int64_t>(threads, (int64_t{count} + grain - 1) / grain));
  std::exception_ptr failure;
  std::mutex mutex;
  const auto run = [&](int32_t k) {
    const auto begin = static_cast<int32_t>(int64_t{count} * k / chunks);
    const auto end = static_cast<int32_t>(int64_t{count} * (k + 1) / chunks);
    try {
      fn(body, begin, end);
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex);
      if (!failure) failure = std::current_exception();
    }
  };
  std::vector<std::thread> workers;
  for (int32_t k = 1; k < chunks; ++k) workers.emplace_back(run, k);
  run(0);
  for (std::thread& t : workers) t.join();
  if (failure) std::rethrow_exception(failure);
}
#endif

}  // namespace

int32_t ThreadCount() {
  int32_t chosen = gChosen.load(std::memory_order_relaxed);
  return chosen > 0 ? chosen : DefaultThreads();
}

void SetThreadCount(int32_t count) {
  gChosen.store(count <= 0 ? 0 : (count > kMaxThreads ? kMaxThreads : count), std::memory_order_relaxed);
}

namespace detail {

void ParallelForImpl(int32_t count, int32_t grain, ChunkFn fn, void* body) {
  int32_t threads = ThreadCount();
  if (threads <= 1 || count <= grain) {
    fn(body, 0, count);
    return;
  }
#if defined(__SANITIZE_THREAD__)
  RunOnPlainThreads(count, grain, threads, fn, body);
  return;
#endif
  // Called from inside a worker (a nested operation): run there, split
  // again by the arena that worker belongs to.
  auto run = [&] {
    tbb::parallel_for(tbb::blocked_range<int32_t>(0, count, static_cast<size_t>(grain)),
                      [&](const tbb::blocked_range<int32_t>& r) { fn(body, r.begin(), r.end()); });
  };
  if (tbb::this_task_arena::current_thread_index() != tbb::task_arena::not_initialized) {
    run();
    return;
  }
  ArenaFor(threads).execute(run);
}

}  // namespace detail
}  // namespace fx
