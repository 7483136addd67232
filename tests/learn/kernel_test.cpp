#include "learn/kernel.h"

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/tevra.h"
#include "tests/learn/sample_sets.h"

namespace tevra {
namespace {

using namespace testing_samples;

// A Kernel without Q-matrix columns, with its column stretches collected.
class Bare_kernel : public Kernel {
 public:
  Bare_kernel(const Sample_set& set, const Parameter& param)
      : Kernel(set.count(), set.pointers.data(), param) {}
  void get_columns(const int*, int, int, const float**) override {}
  std::vector<double> column(int i, int begin, int end) {
    std::vector<double> out(end - begin);
    kernel_column(i, begin, end, [&out, begin](int j, double k) { out[j - begin] = k; });
    return out;
  }
  // Columns rows[k] of one kernel_columns call, entries 0 to end-1; NaN
  // where nothing was stored, and a store twice into one entry is an error.
  std::vector<std::vector<double>> columns(const std::vector<int>& rows,
                                           const std::vector<int>& begins, int end) {
    std::vector<std::vector<double>> out(rows.size(), std::vector<double>(end, std::nan("")));
    kernel_columns(rows.data(), begins.data(), static_cast<int>(rows.size()), end,
                   [&out](int k, int j, double value) {
                     EXPECT_TRUE(std::isnan(out[k][j])) << "stored twice: " << k << "," << j;
                     out[k][j] = value;
                   });
    return out;
  }
};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// ---------------------------------------------------------------------------
// dot

struct Dot_case {
  const char* name;
  Entries x, y;
  double expected;
};

class Dot_test : public testing::TestWithParam<Dot_case> {};

TEST_P(Dot_test, MatchesHandSum) {
  const Dot_case& c = GetParam();
  EXPECT_EQ(dot(c.x.data(), c.y.data()), c.expected);
  EXPECT_EQ(dot(c.y.data(), c.x.data()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Dot_test,
    testing::Values(
        Dot_case{"empty_sample", sample({}), sample({{1, 2}, {3, 4}}), 0},
        Dot_case{"no_common_index", sample({{1, 2}, {4, 5}}), sample({{2, 3}, {3, 7}}), 0},
        Dot_case{"common_indices", sample({{1, 2}, {2, 3}, {5, 4}}), sample({{2, 5}, {5, -1}}),
                 3 * 5 + 4 * -1},
        Dot_case{"index_zero_counts", sample({{0, 3}, {2, 1}}), sample({{0, 2}}), 6},
        Dot_case{"one_ends_early", sample({{1, 1}}), sample({{1, 2}, {2, 9}, {3, 9}}), 2}),
    [](const testing::TestParamInfo<Dot_case>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// kernel_value

struct Value_case {
  const char* name;
  Parameter param;
  Entries x, y;
  double expected;
};

class Kernel_value_test : public testing::TestWithParam<Value_case> {};

TEST_P(Kernel_value_test, GivesFormula) {
  const Value_case& c = GetParam();
  EXPECT_EQ(kernel_value(c.x.data(), c.y.data(), c.param), c.expected);
}

const double kBase = 0.5 * 7.3 + 0.25;  // gamma * dot + coef0 of the polynomial cases

// b^4 by repeated squaring.
double fourth_power(double b) { return (b * b) * (b * b); }

// The two fourth powers above are ones that other ways of computing them
// get wrong in the last bit; otherwise their cases could not tell.
TEST(IntegerPower, FourthPowersThatOtherFormsMiss) {
  const double b11 = 0.5 * 1.7 + 0.25, b07 = 0.5 * 0.9 + 0.25;
  EXPECT_NE(fourth_power(b11), ((b11 * b11) * b11) * b11);
  EXPECT_NE(fourth_power(b07), std::pow(b07, 4));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Kernel_value_test,
    testing::Values(
        Value_case{"linear", kernel_parameter(linear), sample({{1, 1.5}, {3, 2}}),
                   sample({{1, 2}, {3, 2.15}}), 1.5 * 2 + 2 * 2.15},
        Value_case{"polynomial_degree_0", kernel_parameter(polynomial, 0),
                   sample({{1, 1.5}, {3, 2}}), sample({{1, 2}, {3, 2.15}}), 1},
        Value_case{"polynomial_degree_1", kernel_parameter(polynomial, 1),
                   sample({{1, 1.5}, {3, 2}}), sample({{1, 2}, {3, 2.15}}), kBase},
        Value_case{"polynomial_degree_3", kernel_parameter(polynomial, 3),
                   sample({{1, 1.5}, {3, 2}}), sample({{1, 2}, {3, 2.15}}), kBase*(kBase* kBase)},
        // Repeated squaring: b * (b^2)^2, not ((((b b) b) b) b).
        Value_case{"polynomial_degree_5_by_squaring", kernel_parameter(polynomial, 5),
                   sample({{1, 1.5}, {3, 2}}), sample({{1, 2}, {3, 2.15}}),
                   kBase*((kBase * kBase) * (kBase * kBase))},
        // At base 3.9 the squaring, the left-to-right product and pow agree;
        // at 1.1 the product ((b b) b) b differs from (b^2)^2 in the last
        // bit, and at 0.7 pow does.
        Value_case{"polynomial_degree_4_base_1_1", kernel_parameter(polynomial, 4),
                   sample({{1, 1}}), sample({{1, 1.7}}), fourth_power(0.5 * 1.7 + 0.25)},
        Value_case{"polynomial_degree_4_base_0_7", kernel_parameter(polynomial, 4),
                   sample({{1, 1}}), sample({{1, 0.9}}), fourth_power(0.5 * 0.9 + 0.25)},
        Value_case{"rbf_of_itself_is_one", kernel_parameter(rbf), sample({{1, 0.3}, {7, -2.1}}),
                   sample({{1, 0.3}, {7, -2.1}}), 1},
        Value_case{"rbf_empty_sample", kernel_parameter(rbf), sample({}),
                   sample({{2, 3}, {5, 0.5}}), std::exp(-((9 + 0.25) * 0.5))},
        // Walk order: x 1, y 2, both 4, x 6, then the rest of y.
        Value_case{"rbf_merge_walk", kernel_parameter(rbf), sample({{1, 1}, {4, 2}, {6, 3}}),
                   sample({{2, 0.5}, {4, -1}, {8, 0.1}, {9, 2}}),
                   std::exp(-((((((1 + 0.25) + 9) + 9) + 0.1 * 0.1) + 4) * 0.5))},
        Value_case{"sigmoid", kernel_parameter(sigmoid), sample({{1, 1.5}, {3, 2}}),
                   sample({{1, 2}, {3, 2.15}}), std::tanh(kBase)},
        // The serial 2.9 is truncated: entry position 2 of x.
        Value_case{"precomputed_truncates_serial", kernel_parameter(precomputed),
                   sample({{0, 1}, {1, 10}, {2, 20}, {3, 30}}), sample({{0, 2.9}, {1, 99}}), 20},
        Value_case{"unknown_kernel_is_zero", kernel_parameter(7), sample({{1, 1}}),
                   sample({{1, 1}}), 0}),
    [](const testing::TestParamInfo<Value_case>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Kernel: member formulas, swaps, columns

// Member rbf from squared norms, as the Kernel computes it.
double member_rbf(const Node* x, const Node* y, double gamma) {
  return std::exp(-((dot(x, x) + dot(y, y) - 2 * dot(x, y)) * gamma));
}

double member_formula(const Node* x, const Node* y, const Parameter& param) {
  return param.kernel_type == rbf ? member_rbf(x, y, param.gamma) : kernel_value(x, y, param);
}

Sample_set small_set() {
  return make_set({sample({{1, 0.5}, {2, -1.25}, {4, 3}}), sample({}), sample({{2, 2}, {3, 0.75}}),
                   sample({{0, 1.5}, {4, -0.5}, {6, 1}}), sample({{1, 0.5}, {2, -1.25}, {4, 3}})});
}

// Precomputed rows: 0:serial, then the kernel value with serial 1, 2, ...
Sample_set precomputed_set() {
  return make_set({sample({{0, 1}, {1, 4}, {2, 1}, {3, -2}}),
                   sample({{0, 2}, {1, 1}, {2, 5}, {3, 0.5}}),
                   sample({{0, 3}, {1, -2}, {2, 0.5}, {3, 6}})});
}

class Member_kernel_test : public testing::TestWithParam<int> {
 protected:
  Sample_set set = GetParam() == precomputed ? precomputed_set() : small_set();
  Parameter param = kernel_parameter(GetParam());
};

TEST_P(Member_kernel_test, PairKernelGivesMemberFormula) {
  Bare_kernel kernel(set, param);
  for (int i = 0; i < set.count(); ++i)
    for (int j = 0; j < set.count(); ++j)
      EXPECT_EQ(kernel.pair(i, j), member_formula(set.pointers[i], set.pointers[j], param))
          << i << "," << j;
}

TEST_P(Member_kernel_test, SwapMovesEverySamplePropertyButNotTheProblem) {
  Bare_kernel kernel(set, param);
  const int n = set.count();
  std::vector<std::vector<double>> before(n, std::vector<double>(n));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) before[i][j] = kernel.pair(i, j);
  const std::vector<Node*> problem_order = set.pointers;

  kernel.swap_entries(0, 2);
  std::vector<int> moved(n);
  for (int k = 0; k < n; ++k) moved[k] = k;
  std::swap(moved[0], moved[2]);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      EXPECT_TRUE(same_bits(kernel.pair(i, j), before[moved[i]][moved[j]])) << i << "," << j;
  EXPECT_EQ(set.pointers, problem_order);
}

TEST_P(Member_kernel_test, ColumnsMatchPairKernelBitForBit) {
  Bare_kernel kernel(set, param);
  const int n = set.count();
  for (int i = 0; i < n; ++i) {
    const std::vector<double> column = kernel.column(i, 1, n);
    for (int j = 1; j < n; ++j) EXPECT_TRUE(same_bits(column[j - 1], kernel.pair(i, j)));
  }
}

INSTANTIATE_TEST_SUITE_P(AllKernels, Member_kernel_test,
                         testing::Values(linear, polynomial, rbf, sigmoid, precomputed),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(kernel_type_names[info.param]);
                         });

TEST(MemberKernel, RbfOfASampleWithItselfIsOne) {
  const Sample_set set = read_samples("glass.train");
  Bare_kernel kernel(set, kernel_parameter(rbf, 3, 0.7));
  for (int i = 0; i < set.count(); ++i) EXPECT_EQ(kernel.pair(i, i), 1.0) << i;
}

// Columns computed through the dense row agree with the merge walk to the
// last bit, on real and on random data, for every dot-product kernel; each
// column also clears the row it used (a stale entry would spoil the next).
struct Column_case {
  const char* name;
  Sample_set (*make)();
};

class Dense_column_test : public testing::TestWithParam<std::tuple<Column_case, int>> {};

TEST_P(Dense_column_test, EqualsMergeWalk) {
  const Sample_set set = std::get<0>(GetParam()).make();
  const Parameter param = kernel_parameter(std::get<1>(GetParam()), 3, 0.3, 0.1);
  Bare_kernel kernel(set, param);
  const int n = set.count();
  for (int i = 0; i < n; ++i) {
    const std::vector<double> column = kernel.column(i, 0, n);
    for (int j = 0; j < n; ++j) {
      ASSERT_TRUE(same_bits(column[j], kernel.pair(i, j))) << i << "," << j;
      if (param.kernel_type == linear) {
        ASSERT_TRUE(same_bits(column[j], dot(set.pointers[i], set.pointers[j])));
      }
    }
  }
}

// Batches of columns, each starting at its own row, give every column's
// values exactly, whatever the batch width (wider than one pass holds too),
// and store nothing before a column's start. Batches run back to back, so a
// block left dirty by one would spoil the next.
TEST_P(Dense_column_test, BatchesEqualMergeWalk) {
  const Sample_set set = std::get<0>(GetParam()).make();
  const Parameter param = kernel_parameter(std::get<1>(GetParam()), 3, 0.3, 0.1);
  Bare_kernel kernel(set, param);
  const int n = set.count();
  std::mt19937 engine(3);
  std::uniform_int_distribution<int> row(0, n - 1);
  for (int width : {1, 2, 3, 5, 10, 16, 17, 23}) {
    std::vector<int> rows(width), begins(width);
    for (int k = 0; k < width; ++k) {
      rows[k] = row(engine);
      begins[k] = k % 3 == 0 ? 0 : row(engine);
    }
    const auto columns = kernel.columns(rows, begins, n);
    for (int k = 0; k < width; ++k) {
      for (int j = 0; j < begins[k]; ++j) ASSERT_TRUE(std::isnan(columns[k][j])) << k << "," << j;
      for (int j = begins[k]; j < n; ++j)
        ASSERT_TRUE(same_bits(columns[k][j], kernel.pair(rows[k], j)))
            << "width " << width << ": " << rows[k] << "," << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    DataSets, Dense_column_test,
    testing::Combine(
        testing::Values(
            Column_case{"iris", [] { return read_samples("iris.all"); }},
            Column_case{"breast_cancer", [] { return read_samples("breast_cancer.train"); }},
            Column_case{"random_sparse", [] { return random_samples(150, 60, 0.2, 7); }},
            // Indices far too large for a dense row: merge walk.
            Column_case{"huge_indices",
                        [] {
                          Sample_set set = random_samples(40, 30, 0.3, 11);
                          for (int s = 0; s < set.count(); s += 3)
                            set.rows[s].insert(set.rows[s].end() - 1, {2000000000, 0.5 * s});
                          set.finish();
                          return set;
                        }}),
        testing::Values(linear, polynomial, rbf, sigmoid)),
    [](const testing::TestParamInfo<std::tuple<Column_case, int>>& info) {
      return std::string(std::get<0>(info.param).name) + "_" +
             kernel_type_names[std::get<1>(info.param)];
    });

// A dense row is zero-filled for every Q matrix: it must not cost more than
// the work it saves, whatever the largest index.
TEST(DenseRowPays, SizedToTheWork) {
  EXPECT_TRUE(dense_row_pays(4096, 1));              // small rows always
  EXPECT_TRUE(dense_row_pays(785, 12000LL * 400));   // images
  EXPECT_TRUE(dense_row_pays(20001, 20000LL * 50));  // text-like
  // A few samples with a feature index of one million: 8 MiB for 18 nodes.
  EXPECT_FALSE(dense_row_pays(1000001, 18));
  EXPECT_FALSE(dense_row_pays(2000000001LL, 1000000));
  EXPECT_FALSE(dense_row_pays(0, 10));  // no feature at all
}

TEST(MemberKernel, PrecomputedTruncatesTheSerialOfTheSecondSample) {
  const Sample_set set = make_set(
      {sample({{0, 1}, {1, 10}, {2, 20}, {3, 30}}), sample({{0, 2.9}, {1, 11}, {2, 21}, {3, 31}})});
  Bare_kernel kernel(set, kernel_parameter(precomputed));
  EXPECT_EQ(kernel.pair(0, 1), 20);
  EXPECT_EQ(kernel.pair(1, 0), 11);
  EXPECT_EQ(kernel.column(0, 0, 2), (std::vector<double>{10, 20}));
}

TEST(MemberKernel, UnknownKernelTypeGivesZeroLikeTheStaticForm) {
  const Sample_set set = small_set();
  Bare_kernel kernel(set, kernel_parameter(9));
  EXPECT_EQ(kernel.pair(0, 0), 0);
  EXPECT_EQ(kernel.column(0, 0, 2), (std::vector<double>{0, 0}));
}

TEST(MemberKernel, LaterParameterChangesDoNotReachTheKernel) {
  const Sample_set set = small_set();
  Parameter param = kernel_parameter(polynomial);
  Bare_kernel kernel(set, param);
  const double before = kernel.pair(0, 2);
  param.gamma = 9;
  param.degree = 1;
  EXPECT_EQ(kernel.pair(0, 2), before);
}

}  // namespace
}  // namespace tevra
