#include "imaging/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace fx {
namespace {

class ParallelFor_ : public ::testing::TestWithParam<int32_t> {
 protected:
  void SetUp() override { SetThreadCount(GetParam()); }
  void TearDown() override { SetThreadCount(0); }
};

TEST_P(ParallelFor_, VisitsEveryIndexOnceWhateverTheGrain) {
  for (int32_t count : {1, 2, 7, 1000, 4099}) {
    for (int32_t grain : {0, 1, 3, 64, 5000}) {
      std::vector<std::atomic<int32_t>> seen(static_cast<size_t>(count));
      ParallelFor(count, grain, [&](int32_t begin, int32_t end) {
        ASSERT_LE(0, begin);
        ASSERT_LT(begin, end);
        ASSERT_LE(end, count);
        for (int32_t i = begin; i < end; ++i) seen[static_cast<size_t>(i)]++;
      });
      for (int32_t i = 0; i < count; ++i) ASSERT_EQ(seen[static_cast<size_t>(i)].load(), 1) << count << " " << grain << " " << i;
    }
  }
}

TEST_P(ParallelFor_, NestedLoopsAndExceptionsReachTheCaller) {
  std::atomic<int64_t> sum{0};
  ParallelFor(16, 1, [&](int32_t b, int32_t e) {
    for (int32_t i = b; i < e; ++i)
      ParallelFor(16, 1, [&](int32_t b2, int32_t e2) {
        for (int32_t j = b2; j < e2; ++j) sum += i * 16 + j;
      });
  });
  EXPECT_EQ(sum.load(), 255 * 256 / 2);
  EXPECT_THROW(ParallelFor(100, 1,
                           [](int32_t b, int32_t) {
                             if (b == 0) throw std::runtime_error("chunk");
                           }),
               std::runtime_error);
  int32_t calls = 0;
  ParallelFor(0, 1, [&](int32_t, int32_t) { ++calls; });
  ParallelFor(-3, 1, [&](int32_t, int32_t) { ++calls; });
  EXPECT_EQ(calls, 0);
}

INSTANTIATE_TEST_SUITE_P(Threads, ParallelFor_, ::testing::Values(1, 2, 7));

TEST(ThreadCount, SetAndDefault) {
  SetThreadCount(3);
  EXPECT_EQ(ThreadCount(), 3);
  SetThreadCount(100000);
  EXPECT_EQ(ThreadCount(), 256);
  SetThreadCount(0);
  EXPECT_GE(ThreadCount(), 1);
}

}  // namespace
}  // namespace fx
