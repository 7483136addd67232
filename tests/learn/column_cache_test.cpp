#include "learn/column_cache.h"

#include <climits>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/cached_columns.h"
#include "learn/tevra.h"

namespace tevra {
namespace {

// ---------------------------------------------------------------------------
// Byte count and budget

struct Bytes_case {
  const char* name;
  double cache_size;
  long long expected;
};

class Cache_bytes_test : public testing::TestWithParam<Bytes_case> {};

TEST_P(Cache_bytes_test, TruncatesAndSaturates) {
  Parameter param = default_parameter();
  param.cache_size = GetParam().cache_size;
  EXPECT_EQ(cache_bytes(param), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Cache_bytes_test,
    testing::Values(Bytes_case{"default_100MB", 100, 104857600},
                    Bytes_case{"tiny_truncated", 0.0001, 104},
                    Bytes_case{"just_below_2048MB", 2047.9999999, 2147483647},
                    Bytes_case{"largest_exact", 2047.5, 2146959360},
                    Bytes_case{"2048MB_saturates", 2048, INT_MAX},
                    Bytes_case{"terabyte_saturates", 1e6, INT_MAX},
                    Bytes_case{"infinity_saturates", std::numeric_limits<double>::infinity(),
                               INT_MAX},
                    Bytes_case{"nan_is_zero", std::numeric_limits<double>::quiet_NaN(), 0}),
    [](const testing::TestParamInfo<Bytes_case>& info) { return std::string(info.param.name); });

struct Budget_case {
  const char* name;
  int count;
  long long bytes;
  int min_columns;
  long long expected;
};

class Budget_test : public testing::TestWithParam<Budget_case> {};

TEST_P(Budget_test, IsLargerOfRequestAndFloor) {
  const Budget_case& c = GetParam();
  Column_cache cache(c.count, c.bytes, c.min_columns);
  EXPECT_EQ(cache.free_floats(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Budget_test,
    testing::Values(Budget_case{"request_100MB", 1000, 104857600, 10, 26206400},
                    Budget_case{"floor_for_104_bytes", 1000, 104, 10, 10000},
                    Budget_case{"floor_ten_columns_of_two", 10, 0, 2, 20},
                    Budget_case{"saturated_bytes", 1000, INT_MAX, 10, INT_MAX / 4 - 8000},
                    // count * min_columns beyond 32 bits stays exact.
                    Budget_case{"floor_beyond_32_bits", 100000, INT_MAX, 50000, 5000000000LL},
                    Budget_case{"negative_bytes_give_floor", 50, -4000, 3, 150},
                    Budget_case{"min_columns_below_one_keeps_a_column", 50, 0, 0, 50}),
    [](const testing::TestParamInfo<Budget_case>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// fetch

// Marks entry r of the column fetched at position c as 1000 c + r.
void fill(float* data, int from, int to, int c) {
  for (int r = from; r < to; ++r) data[r] = static_cast<float>(1000 * c + r);
}

TEST(Fetch, ReusesAndGrowsPartialColumns) {
  Column_cache cache(20, 0, 2);
  const long long budget = cache.free_floats();
  int filled = -1;

  float* data = cache.fetch(5, 10, &filled);
  EXPECT_EQ(filled, 0);
  fill(data, 0, 10, 5);
  EXPECT_EQ(cache.free_floats(), budget - 10);

  // Shorter request: served whole, nothing shortened.
  data = cache.fetch(5, 4, &filled);
  EXPECT_EQ(filled, 4);
  EXPECT_EQ(cache.free_floats(), budget - 10);

  // Longer request: keeps the 10 computed entries, asks for the rest.
  data = cache.fetch(5, 12, &filled);
  EXPECT_EQ(filled, 10);
  EXPECT_EQ(cache.free_floats(), budget - 12);
  for (int r = 0; r < 10; ++r) EXPECT_EQ(data[r], 5000 + r);
}

TEST(Fetch, EvictsLeastRecentlyUsedWholeColumns) {
  Column_cache cache(10, 0, 2);  // 20 floats
  int filled;
  fill(cache.fetch(0, 10, &filled), 0, 10, 0);
  fill(cache.fetch(1, 10, &filled), 0, 10, 1);
  cache.fetch(0, 10, &filled);  // 0 becomes the most recent
  fill(cache.fetch(2, 10, &filled), 0, 10, 2);

  const float* data = cache.fetch(0, 10, &filled);
  EXPECT_EQ(filled, 10);
  EXPECT_EQ(data[9], 9);
  cache.fetch(1, 10, &filled);
  EXPECT_EQ(filled, 0);
}

TEST(Fetch, NeverEvictsTheColumnItServes) {
  Column_cache cache(20, 0, 1);  // 20 floats
  int filled;
  fill(cache.fetch(3, 5, &filled), 0, 5, 3);
  fill(cache.fetch(4, 15, &filled), 0, 15, 4);
  // Column 3 is the oldest but is being grown: column 4 must go instead.
  const float* data = cache.fetch(3, 10, &filled);
  EXPECT_EQ(filled, 5);
  for (int r = 0; r < 5; ++r) EXPECT_EQ(data[r], 3000 + r);
  cache.fetch(4, 1, &filled);
  EXPECT_EQ(filled, 0);
}

// The solvers hold qpsize columns at once: with the smallest budget, qpsize
// complete columns must all survive.
struct Floor_case {
  int count;
  int qpsize;
};

class Smallest_budget_test : public testing::TestWithParam<Floor_case> {};

TEST_P(Smallest_budget_test, KeepsQpsizeCompleteColumns) {
  const int count = GetParam().count;
  const int qpsize = GetParam().qpsize;
  Column_cache cache(count, 0, qpsize);
  int filled;
  // Older columns of every length crowd the budget first; the working set
  // (columns 0 to qpsize-1, column 0 already cached) must push them out.
  fill(cache.fetch(0, count, &filled), 0, count, 0);
  for (int c = count - 1; c >= qpsize; --c) cache.fetch(c, c + 1, &filled);
  for (int c = 0; c < qpsize; ++c) {
    float* data = cache.fetch(c, count, &filled);
    fill(data, filled, count, c);
  }
  for (int c = 0; c < qpsize; ++c) {
    const float* data = cache.fetch(c, count, &filled);
    ASSERT_EQ(filled, count) << "column " << c;
    for (int r = 0; r < count; ++r) ASSERT_EQ(data[r], 1000 * c + r);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Smallest_budget_test,
                         testing::Values(Floor_case{3, 2}, Floor_case{50, 10}, Floor_case{200, 37},
                                         Floor_case{64, 64}));

// ---------------------------------------------------------------------------
// swap_positions

TEST(SwapPositions, SamePositionChangesNothing) {
  Column_cache cache(10, 0, 2);
  int filled;
  fill(cache.fetch(3, 10, &filled), 0, 10, 3);
  const long long before = cache.free_floats();
  cache.swap_positions(3, 3);
  const float* data = cache.fetch(3, 10, &filled);
  EXPECT_EQ(filled, 10);
  for (int r = 0; r < 10; ++r) EXPECT_EQ(data[r], 3000 + r);
  EXPECT_EQ(cache.free_floats(), before);
}

TEST(SwapPositions, ExchangesRowsOrShortensColumnsThatCannotFollow) {
  Column_cache cache(10, 400, 2);
  int filled;
  fill(cache.fetch(0, 10, &filled), 0, 10, 0);  // holds rows 2 and 7
  fill(cache.fetch(1, 5, &filled), 0, 5, 1);    // row 2 only
  fill(cache.fetch(4, 2, &filled), 0, 2, 4);    // neither
  fill(cache.fetch(5, 3, &filled), 0, 3, 5);    // row 2 is its last
  const long long before = cache.free_floats();

  cache.swap_positions(2, 7);

  const float* data = cache.fetch(0, 10, &filled);
  EXPECT_EQ(filled, 10);
  EXPECT_EQ(data[2], 7);
  EXPECT_EQ(data[7], 2);
  EXPECT_EQ(data[3], 3);
  data = cache.fetch(4, 2, &filled);
  EXPECT_EQ(filled, 2);
  EXPECT_EQ(data[0], 4000);
  EXPECT_EQ(data[1], 4001);
  // Row 2 of these would have to come from row 7, which they lack: they
  // keep rows 0 and 1 and give the rest back.
  EXPECT_EQ(cache.free_floats(), before + 3 + 1);
  data = cache.fetch(1, 5, &filled);
  EXPECT_EQ(filled, 2);
  EXPECT_EQ(data[0], 1000);
  EXPECT_EQ(data[1], 1001);
  cache.fetch(5, 3, &filled);
  EXPECT_EQ(filled, 2);
}

// Exchanges are noted and carried out together at the next fetch: only
// their combined effect counts.
TEST(SwapPositions, ExchangesThatCancelLeaveEveryColumnWhole) {
  Column_cache cache(10, 400, 2);
  int filled;
  fill(cache.fetch(1, 5, &filled), 0, 5, 1);
  const long long before = cache.free_floats();
  cache.swap_positions(2, 7);
  cache.swap_positions(7, 2);
  const float* data = cache.fetch(1, 5, &filled);
  EXPECT_EQ(filled, 5);
  for (int r = 0; r < 5; ++r) EXPECT_EQ(data[r], 1000 + r);
  EXPECT_EQ(cache.free_floats(), before);
}

TEST(SwapPositions, ColumnKeepsRowsBeforeTheFirstThatCannotFollow) {
  Column_cache cache(10, 400, 2);
  int filled;
  fill(cache.fetch(0, 6, &filled), 0, 6, 0);
  cache.swap_positions(1, 4);  // both within the column
  cache.swap_positions(3, 8);  // row 3 would come from beyond it
  const float* data = cache.fetch(0, 6, &filled);
  EXPECT_EQ(filled, 3);
  EXPECT_EQ(data[0], 0);
  EXPECT_EQ(data[1], 4);
  EXPECT_EQ(data[2], 2);
}

TEST(SwapPositions, ColumnsTradeSlotsAndRows) {
  Column_cache cache(10, 0, 3);
  int filled;
  fill(cache.fetch(7, 10, &filled), 0, 10, 7);
  cache.swap_positions(2, 7);
  const float* data = cache.fetch(2, 10, &filled);
  EXPECT_EQ(filled, 10);
  EXPECT_EQ(data[2], 7007);
  EXPECT_EQ(data[7], 7002);
  EXPECT_EQ(data[0], 7000);
  cache.fetch(7, 1, &filled);
  EXPECT_EQ(filled, 0);
}

TEST(SwapPositions, SecondPositionEndsMostRecentlyUsed) {
  Column_cache cache(10, 0, 3);  // room for three columns of 10
  int filled;
  cache.fetch(2, 10, &filled);
  cache.fetch(7, 10, &filled);
  cache.fetch(0, 10, &filled);  // order, oldest first: 2, 7, 0
  cache.swap_positions(2, 7);   // relinks 2 then 7: 0, 2, 7
  cache.fetch(9, 10, &filled);  // evicts 0
  cache.fetch(4, 10, &filled);  // evicts 2
  cache.fetch(7, 10, &filled);
  EXPECT_EQ(filled, 10);
  cache.fetch(0, 10, &filled);
  EXPECT_EQ(filled, 0);
}

// A long random run of fetches and swaps against a model of the reordered
// matrix: every value the cache reports as held must be the matrix entry of
// the current order, and the budget must never go negative.
TEST(ColumnCache, StaysConsistentWithReorderedMatrix) {
  const int count = 30;
  Column_cache cache(count, 0, 4);   // small: evictions all the time
  std::vector<int> original(count);  // position -> original index
  std::iota(original.begin(), original.end(), 0);
  auto entry = [&](int row, int column) {
    return static_cast<float>(original[column] * 100 + original[row]);
  };

  std::mt19937 engine(3);
  std::uniform_int_distribution<int> position(0, count - 1);
  for (int step = 0; step < 20000; ++step) {
    if (step % 3 == 0) {
      const int i = position(engine);
      const int j = position(engine);
      cache.swap_positions(i, j);
      std::swap(original[i], original[j]);
    } else {
      const int c = position(engine);
      const int len = 1 + position(engine);
      int filled;
      float* data = cache.fetch(c, len, &filled);
      for (int r = 0; r < std::min(filled, len); ++r)
        ASSERT_EQ(data[r], entry(r, c)) << "step " << step;
      for (int r = filled; r < len; ++r) data[r] = entry(r, c);
    }
    ASSERT_GE(cache.free_floats(), 0);
  }
}

}  // namespace
}  // namespace tevra
