#include "learn/q_matrices.h"

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"
#include "learn/kernel.h"
#include "learn/tevra.h"
#include "tests/learn/sample_sets.h"

namespace tevra {
namespace {

using namespace testing_samples;

// Kernel value as the Q matrices compute it (rbf from squared norms).
double member_kernel(const Node* x, const Node* y, const Parameter& param) {
  if (param.kernel_type == rbf)
    return std::exp(-((dot(x, x) + dot(y, y) - 2 * dot(x, y)) * param.gamma));
  return kernel_value(x, y, param);
}

enum Q_kind { one_class, bone_class, bsvc, bsvr };
const char* const kQ_names[] = {"ONE_CLASS_Q", "BONE_CLASS_Q", "BSVC_Q", "BSVR_Q"};

// The Q matrix the tests expect, kept in the current order of positions:
// each position stands for a sample and carries a sign.
struct Reference {
  Q_kind kind;
  Parameter param;
  std::vector<Node*> samples;  // by sample
  std::vector<int> sample_of;  // by position
  std::vector<signed char> signs;

  int positions() const { return static_cast<int>(sample_of.size()); }
  float entry(int i, int j) const {
    const double k = member_kernel(samples[sample_of[i]], samples[sample_of[j]], param);
    switch (kind) {
      case one_class:
        return static_cast<float>(k);
      case bone_class:
        return static_cast<float>(k) + 1.0f;
      case bsvc:
        return static_cast<float>((k + 1) * static_cast<double>(static_cast<float>(signs[i]) *
                                                                static_cast<float>(signs[j])));
      case bsvr:
        return static_cast<float>(signs[i] * signs[j]) * (static_cast<float>(k) + 1.0f);
    }
    return 0;
  }
  void swap(int i, int j) {
    std::swap(sample_of[i], sample_of[j]);
    std::swap(signs[i], signs[j]);
  }
};

std::vector<signed char> alternating_signs(int count) {
  std::vector<signed char> signs(count);
  for (int k = 0; k < count; ++k) signs[k] = (k % 3 == 1) ? -1 : 1;
  return signs;
}

// Builds a Q matrix of the given kind over set and its reference.
std::unique_ptr<Kernel> make_q(Q_kind kind, Sample_set& set, const Parameter& param,
                               const std::vector<signed char>& signs, Reference* reference) {
  const Problem problem = set.problem();
  const int l = set.count();
  reference->kind = kind;
  reference->param = param;
  reference->samples = set.pointers;
  reference->sample_of.clear();
  reference->signs.clear();
  for (int p = 0; p < l; ++p) {
    reference->sample_of.push_back(p);
    reference->signs.push_back(kind == bsvc ? signs[p] : 1);
  }
  switch (kind) {
    case one_class:
      return std::make_unique<ONE_CLASS_Q>(problem, param);
    case bone_class:
      return std::make_unique<BONE_CLASS_Q>(problem, param);
    case bsvc:
      return std::make_unique<BSVC_Q>(problem, param, signs.data());
    case bsvr:
      for (int p = 0; p < l; ++p) {
        reference->sample_of.push_back(p);
        reference->signs.push_back(-1);
      }
      return std::make_unique<BSVR_Q>(problem, param);
  }
  return nullptr;
}

// Precomputed rows over n samples: 0:serial, then a matrix that is not
// symmetric, as a user may give it: its columns must never be filled from
// each other, as those of the computed kernels are.
Sample_set precomputed_samples(int n) {
  std::mt19937 engine(5);
  std::uniform_real_distribution<double> value(-2, 2);
  std::vector<std::vector<double>> matrix(n, std::vector<double>(n));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) matrix[i][j] = value(engine);
  Sample_set set;
  for (int i = 0; i < n; ++i) {
    Entries row{{0, static_cast<double>(i + 1)}};
    for (int j = 0; j < n; ++j) row.push_back({j + 1, matrix[i][j]});
    row.push_back({-1, 0});
    set.rows.push_back(row);
  }
  set.finish();
  return set;
}

Sample_set samples_for(int kernel_type, int n) {
  return kernel_type == precomputed ? precomputed_samples(n) : random_samples(n, 25, 0.3, 17);
}

// ---------------------------------------------------------------------------
// Every class, every kernel: a random run of column requests (and swaps,
// for the classes that support them) on a cache small enough to evict and
// to hold partial columns. Every entry, whether cached or computed afresh,
// must be the entry of the reordered matrix to the last bit.

class Q_matrix_test : public testing::TestWithParam<std::tuple<Q_kind, int>> {
 protected:
  // The Q matrix of the test's class and kernel over count samples, on the
  // smallest cache: qpsize complete columns.
  void build(int qpsize, int count) {
    Parameter param = kernel_parameter(std::get<1>(GetParam()), 2, 0.2, 0.5);
    param.cache_size = 1e-9;
    param.qpsize = qpsize;
    set = samples_for(param.kernel_type, count);
    q = make_q(kind, set, param, alternating_signs(set.count()), &reference);
    n = reference.positions();
  }

  // Every fourth step swaps two random positions in both the Q matrix and
  // the reference, for the classes that support swaps; true if it did.
  bool swap_step(int step, std::mt19937& engine) {
    if (kind == bone_class || step % 4 != 3) return false;
    std::uniform_int_distribution<int> position(0, n - 1);
    const int i = position(engine);
    const int j = position(engine);
    q->swap_entries(i, j);
    reference.swap(i, j);
    return true;
  }

  const Q_kind kind = std::get<0>(GetParam());
  Sample_set set;
  Reference reference;
  std::unique_ptr<Kernel> q;
  int n = 0;  // positions
};

TEST_P(Q_matrix_test, ColumnsFollowTheReorderedMatrix) {
  build(3, 24);
  std::mt19937 engine(9);
  std::uniform_int_distribution<int> position(0, n - 1);
  for (int step = 0; step < 3000; ++step) {
    if (swap_step(step, engine)) continue;
    const int i = position(engine);
    const int len = 1 + position(engine);
    const float* column = q->get_column(i, len);
    for (int j = 0; j < len; ++j)
      ASSERT_EQ(column[j], reference.entry(i, j))
          << "step " << step << " (" << j << ", " << i << ")";
  }
}

// The same through get_columns: up to qpsize columns per call (positions
// may repeat), all of which must still hold their values once the call
// returns, on a cache that holds no more than qpsize complete columns.
TEST_P(Q_matrix_test, BatchedColumnsFollowTheReorderedMatrix) {
  const int qpsize = 20;  // wider than one batch pass
  build(qpsize, 40);
  std::mt19937 engine(13);
  std::uniform_int_distribution<int> position(0, n - 1);
  std::uniform_int_distribution<int> how_many(1, qpsize);
  std::vector<int> positions;
  std::vector<const float*> columns(qpsize);
  for (int step = 0; step < 400; ++step) {
    if (swap_step(step, engine)) continue;
    positions.resize(how_many(engine));
    for (int& p : positions) p = position(engine);
    const int len = 1 + position(engine);
    q->get_columns(positions.data(), static_cast<int>(positions.size()), len, columns.data());
    for (size_t k = 0; k < positions.size(); ++k)
      for (int j = 0; j < len; ++j)
        ASSERT_EQ(columns[k][j], reference.entry(positions[k], j))
            << "step " << step << " (" << j << ", " << positions[k] << ")";
  }
}

INSTANTIATE_TEST_SUITE_P(AllClassesAndKernels, Q_matrix_test,
                         testing::Combine(testing::Values(one_class, bone_class, bsvc, bsvr),
                                          testing::Values(linear, polynomial, rbf, sigmoid,
                                                          precomputed)),
                         [](const testing::TestParamInfo<std::tuple<Q_kind, int>>& info) {
                           return std::string(kQ_names[std::get<0>(info.param)]) + "_" +
                                  kernel_type_names[std::get<1>(info.param)];
                         });

// ---------------------------------------------------------------------------
// Hand-checked entries

Sample_set three_samples() {
  return make_set({sample({{1, 0.5}, {2, 1}}), sample({{1, -1}, {3, 2}}), sample({{2, 0.25}})});
}

TEST(BSVC_Q, SignsMultiplyKernelPlusOne) {
  Sample_set set = three_samples();
  const Problem problem = set.problem();
  const Parameter param = kernel_parameter(linear);
  const signed char signs[] = {1, -1, 1};
  BSVC_Q q(problem, param, signs);
  const float* column = q.get_column(1, 3);
  EXPECT_EQ(column[0], -(0.5f * -1 + 1));  // -(K(0, 1) + 1)
  EXPECT_EQ(column[1], 1 + 4 + 1);         // K(1, 1) + 1
  EXPECT_EQ(column[2], -1);                // no common index: -(0 + 1)
}

TEST(Q_matrices, RbfDiagonalIsExactlyOneOrTwo) {
  Sample_set set = read_samples("glass.train");
  const Problem problem = set.problem();
  const Parameter param = kernel_parameter(rbf, 3, 0.9);
  ONE_CLASS_Q one(problem, param);
  BONE_CLASS_Q bone(problem, param);
  for (int i = 0; i < set.count(); ++i) {
    EXPECT_EQ(one.get_column(i, i + 1)[i], 1.0f) << i;
    EXPECT_EQ(bone.get_column(i, i + 1)[i], 2.0f) << i;
  }
}

TEST(BSVR_Q, BothPositionsOfASampleShareItsKernelColumn) {
  Sample_set set = three_samples();
  const Problem problem = set.problem();
  BSVR_Q q(problem, kernel_parameter(linear));
  const float k00 = 0.25f + 1;  // K(0, 0)
  const float* column = q.get_column(3, 6);
  EXPECT_EQ(column[0], -(k00 + 1));
  EXPECT_EQ(column[3], k00 + 1);
  EXPECT_EQ(column[4], -column[1]);
}

// Scales every feature value by 2 so that kernel values computed from now
// on differ from those computed before (linear: by a factor 4).
void scale_samples(Sample_set& set) {
  for (Entries& row : set.rows)
    for (Node& node : row) node.value *= 2;
}

TEST(BSVR_Q, SwapReordersWithoutRecomputing) {
  Sample_set set = three_samples();
  const Problem problem = set.problem();
  BSVR_Q q(problem, kernel_parameter(linear));
  std::vector<std::vector<float>> before;
  for (int i = 0; i < 6; ++i) {
    const float* column = q.get_column(i, 6);
    before.emplace_back(column, column + 6);
  }
  scale_samples(set);  // a recomputed entry would show

  q.swap_entries(0, 3);
  const float* column = q.get_column(0, 6);
  std::vector<float> expected = before[3];
  std::swap(expected[0], expected[3]);
  EXPECT_EQ(std::vector<float>(column, column + 6), expected);
}

TEST(BSVR_Q, BuffersRotateOverQpsize) {
  Sample_set set = three_samples();
  const Problem problem = set.problem();
  Parameter param = kernel_parameter(linear);
  param.qpsize = 2;
  BSVR_Q q(problem, param);
  const float* first = q.get_column(0, 6);
  const float* second = q.get_column(1, 6);
  EXPECT_NE(first, second);
  const std::vector<float> second_values(second, second + 6);
  const float* third = q.get_column(4, 6);
  EXPECT_EQ(third, first);
  EXPECT_EQ(std::vector<float>(second, second + 6), second_values);
}

// A longer request for a cached column computes only the missing rows.
class Growing_column_test : public testing::TestWithParam<Q_kind> {};

TEST_P(Growing_column_test, ComputesOnlyTheMissingRows) {
  const Q_kind kind = GetParam();
  Sample_set set = random_samples(10, 8, 0.6, 23);
  Reference reference;
  std::unique_ptr<Kernel> q =
      make_q(kind, set, kernel_parameter(linear), alternating_signs(10), &reference);
  std::vector<float> old_values(8);
  for (int j = 0; j < 8; ++j) old_values[j] = reference.entry(2, j);

  q->get_column(2, 5);
  scale_samples(set);
  const float* column = q->get_column(2, 8);
  for (int j = 0; j < 5; ++j) EXPECT_EQ(column[j], old_values[j]) << j;
  for (int j = 5; j < 8; ++j) EXPECT_EQ(column[j], reference.entry(2, j)) << j;
}

INSTANTIATE_TEST_SUITE_P(CachedClasses, Growing_column_test,
                         testing::Values(one_class, bone_class, bsvc),
                         [](const testing::TestParamInfo<Q_kind>& info) {
                           return std::string(kQ_names[info.param]);
                         });

TEST(Q_matrices, KernelPartLeavesTheProblemOrderAlone) {
  Sample_set set = random_samples(6, 5, 0.5, 29);
  const Problem problem = set.problem();
  const std::vector<Node*> order = set.pointers;
  const std::vector<signed char> signs = alternating_signs(6);
  BSVC_Q q(problem, kernel_parameter(rbf), signs.data());
  q.swap_entries(0, 5);
  q.swap_entries(1, 2);
  EXPECT_EQ(set.pointers, order);
}

}  // namespace
}  // namespace tevra
