#include "learn/packed_rows.h"

#include <cstring>
#include <limits>
#include <ostream>
#include <vector>

#include "gtest/gtest.h"
#include "learn/tevra.h"
#include "tests/learn/sample_sets.h"

namespace tevra {
namespace {

using namespace testing_samples;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The walk every packed sum must reproduce to the last bit.
double plain_dot(const double* dense, const Node* x) {
  double sum = 0;
  for (; x->index != -1; ++x) sum += dense[x->index] * x->value;
  return sum;
}

int length_of(const Node* x) {
  int n = 0;
  while (x[n].index != -1) ++n;
  return n;
}

// Every lane of every group against the plain walk; lanes past the last
// row must report 0.
void expect_plain_sums(const Packed_rows& packed, const Sample_set& set, const std::vector<double>& dense) {
  const int lanes = Packed_rows::lanes;
  ASSERT_EQ(packed.group_count(), (set.count() + lanes - 1) / lanes);
  double sums[lanes];
  for (int g = 0; g < packed.group_count(); ++g) {
    packed.group_dots(dense.data(), g, sums);
    for (int c = 0; c < lanes; ++c) {
      const int r = g * lanes + c;
      const double expected = r < set.count() ? plain_dot(dense.data(), set.pointers[r]) : 0.0;
      EXPECT_TRUE(same_bits(sums[c], expected)) << "row " << r << ": " << sums[c] << " vs " << expected;
    }
  }
}

struct Packed_case {
  const char* name;
  Sample_set set;
  std::vector<double> dense;  // its last entry is the padding slot, 0
};

void PrintTo(const Packed_case& c, std::ostream* os) { *os << c.name; }

constexpr double inf = std::numeric_limits<double>::infinity();

// count weights of both signs and full precision, then the padding slot.
std::vector<double> weights_with_padding(int count) {
  std::vector<double> dense(count + 1, 0.0);
  for (int k = 0; k < count; ++k) dense[k] = (k % 2 ? -1.0 : 1.0) / (k + 3.0);
  return dense;
}

std::vector<Packed_case> packed_cases() {
  return {
      // 1e16 + 1 - 1e16 is 0 in order but 1 in any order that adds 1 last.
      {"OrderOfAdditionShows",
       make_set({sample({{0, 1e16}, {1, 1}, {2, -1e16}}), sample({{1, 1}, {2, -1e16}, {3, 1e16}})}),
       {1, 1, 1, 1, 0}},
      // Six rows: a full group and a group with two empty lanes; lengths 0 to 5.
      {"UnevenLengthsAndEmptyRows",
       make_set({sample({{1, 0.5}, {2, -3}, {3, 7}, {4, 0.25}, {5, 1e-3}}), sample({}),
                 sample({{5, 3}}), sample({{0, -2}, {5, 9}}), sample({{2, 1}, {3, 1}, {4, 1}}),
                 sample({})}),
       {0.1, -0.7, 1e20, 3, -1e20, 0.3, 0}},
      // The padding product must stay +0 where real products are not finite.
      {"InfiniteWeight",
       make_set({sample({{0, 2}}), sample({{0, -1}, {1, 1}}), sample({{1, 4}})}),
       {inf, -inf, 0}},
      {"RandomFullPrecision", random_samples(23, 30, 0.4, 7), weights_with_padding(31)},
  };
}

class Packed_rows_test : public ::testing::TestWithParam<Packed_case> {};

TEST_P(Packed_rows_test, SumsEqualThePlainWalk) {
  Packed_case c = GetParam();
  c.set.finish();  // the copy's pointers must follow its own rows
  std::vector<int> lengths;
  for (const Node* x : c.set.pointers) lengths.push_back(length_of(x));
  Packed_rows packed;
  packed.pack(c.set.pointers.data(), lengths.data(), c.set.count(),
              static_cast<int>(c.dense.size()) - 1);
  expect_plain_sums(packed, c.set, c.dense);
}

INSTANTIATE_TEST_SUITE_P(Sets, Packed_rows_test, ::testing::ValuesIn(packed_cases()),
                         [](const ::testing::TestParamInfo<Packed_case>& info) { return info.param.name; });

TEST(PackedRowsTest, RepackingReusesStorageWithoutLeftovers) {
  // A long set, then a shorter one with fewer rows in the same object: no
  // entry of the first packing may reach a sum of the second.
  Sample_set wide = random_samples(13, 20, 0.9, 3);
  Sample_set narrow = random_samples(5, 20, 0.2, 4);
  const std::vector<double> dense = weights_with_padding(21);
  Packed_rows packed;
  for (Sample_set* set : {&wide, &narrow}) {
    std::vector<int> lengths;
    for (const Node* x : set->pointers) lengths.push_back(length_of(x));
    packed.pack(set->pointers.data(), lengths.data(), set->count(), 21);
    expect_plain_sums(packed, *set, dense);
  }
  packed.pack(nullptr, nullptr, 0, 21);
  EXPECT_EQ(packed.group_count(), 0);
}

}  // namespace
}  // namespace tevra
