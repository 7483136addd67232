#include "learn/solver_b_linear.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "tests/learn/solver_test_support.h"

namespace tevra {
namespace {

using testing_support::Test_run;

// Sparse samples built from dense rows (zeros left out), with the dense rows
// kept for the reference computations.
struct Sample_set {
  int dimension = 0;  // features 0 .. dimension-1 (index 0 included)
  std::vector<std::vector<double>> dense;
  std::vector<std::vector<Node>> nodes;
  std::vector<Node*> pointers;

  void add(const std::vector<double>& row) {
    dense.push_back(row);
    std::vector<Node> sample;
    for (int k = 0; k < static_cast<int>(row.size()); ++k) {
      if (row[k] != 0) sample.push_back(Node{k, row[k]});
    }
    sample.push_back(Node{-1, 0});
    nodes.push_back(sample);
    pointers.clear();
    for (auto& n : nodes) pointers.push_back(n.data());
  }
};

// Q(i, j) = s_i s_j (x_i . x_j + 1) in double: the dual the linear solver
// must minimise, feature 0 included like any other.
std::vector<double> linear_q(const Sample_set& set, const std::vector<int>& sample_of,
                             const std::vector<signed char>& signs) {
  const size_t l = signs.size();
  std::vector<double> q(l * l);
  for (size_t i = 0; i < l; ++i) {
    for (size_t j = 0; j < l; ++j) {
      const auto& a = set.dense[sample_of[i]];
      const auto& b = set.dense[sample_of[j]];
      double k = 0;
      for (size_t d = 0; d < a.size(); ++d) k += a[d] * b[d];
      q[i * l + j] = signs[i] * signs[j] * (k + 1);
    }
  }
  return q;
}

struct Linear_run {
  std::vector<double> alpha;
  std::vector<double> w;  // features 0..dimension-1, then the bias
  Solve_result result{0, nullptr};
  int iterations = 0;
  std::string output;
};

Linear_run run_linear(const Sample_set& set, const std::vector<int>& sample_of,
                      const std::vector<double>& b, const std::vector<signed char>& signs,
                      std::vector<double> alpha, std::vector<double> w, double C_pos,
                      double C_neg, double eps, int shrinking, int qpsize) {
  const int l = static_cast<int>(b.size());
  std::vector<Node*> samples(l);
  for (int i = 0; i < l; ++i) samples[i] = set.pointers[sample_of[i]];
  Linear_run run;
  Test_run test_run;
  Solver_B_linear solver(test_run.box_solver(), test_run.progress());
  w.push_back(0.0);  // the padding slot
  run.iterations =
      solver.optimize_linear(l, samples.data(), b.data(), signs.data(), alpha.data(), w.data(),
                             set.dimension, C_pos, C_neg, eps, &run.result, shrinking, qpsize);
  EXPECT_EQ(w.back(), 0.0);
  w.pop_back();
  run.alpha = alpha;
  run.w = w;
  run.output = test_run.text();
  return run;
}

Sample_set random_set(int count, int dimension, bool with_index_zero, std::mt19937& rng) {
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::bernoulli_distribution present(0.6);
  Sample_set set;
  set.dimension = dimension;
  for (int i = 0; i < count; ++i) {
    std::vector<double> row(dimension, 0.0);
    for (int k = with_index_zero ? 0 : 1; k < dimension; ++k) {
      if (present(rng)) row[k] = value(rng);
    }
    set.add(row);
  }
  return set;
}

std::vector<int> identity(int n) {
  std::vector<int> v(n);
  for (int i = 0; i < n; ++i) v[i] = i;
  return v;
}

TEST(SolverBLinearTest, TwoSampleDualHasTheStatedMatrix) {
  // M = [[2, -3], [-3, 5]]: the unconstrained minimum of 1/2 a'Ma - 1'a is
  // a = M^-1 1 = (8, 5), inside the box of cost 10.
  Sample_set set;
  set.dimension = 2;
  set.add({0, 1});
  set.add({0, 2});
  Linear_run run = run_linear(set, identity(2), {-1, -1}, {1, -1}, {0, 0}, {0, 0, 0}, 10, 10,
                              1e-8, 1, 2);
  EXPECT_NEAR(run.alpha[0], 8, 1e-6);
  EXPECT_NEAR(run.alpha[1], 5, 1e-6);
  EXPECT_NEAR(run.result.objective, -6.5, 1e-6);
  // w[1] = 8 * 1 - 5 * 2; the bias 8 - 5 sits in its own slot.
  EXPECT_EQ(run.w[0], 0.0);
  EXPECT_NEAR(run.w[1], -2, 1e-6);
  EXPECT_NEAR(run.w[2], 3, 1e-6);
  ASSERT_NE(run.result.bounds, nullptr);
  EXPECT_EQ(run.result.bounds[0], 10.0);
  EXPECT_EQ(run.result.bounds[1], 10.0);
  std::free(run.result.bounds);
}

TEST(SolverBLinearTest, ZeroStartDoesNotReadW) {
  // alpha = 0 is optimal for b = +1; a w that does not match would make
  // every variable violate if it were read.
  std::mt19937 rng(1);
  const Sample_set set = random_set(12, 4, true, rng);
  std::vector<double> w(5, 1e6);
  Linear_run run = run_linear(set, identity(12), std::vector<double>(12, 1.0),
                              std::vector<signed char>(12, 1), std::vector<double>(12, 0.0), w, 1,
                              1, 1e-3, 1, 4);
  EXPECT_EQ(run.iterations, 0);
  EXPECT_EQ(run.result.objective, 0.0);
  // The final line is left to the caller.
  EXPECT_EQ(run.output, "*");
  std::free(run.result.bounds);
}

// Indices far beyond the data take the merge walk for the sub-problem
// matrix instead of a dense row: the same matrix to the bit, so the run is
// the same run. The spread indices keep the samples' order of features.
TEST(SolverBLinearTest, IndicesFarBeyondTheDataGiveTheSameRun) {
  std::mt19937 rng(5);
  const Sample_set set = random_set(14, 6, true, rng);
  const int l = 14;
  const int spread = 300000;  // largest index 1.5 million: no dense row for 14 samples
  std::vector<std::vector<Node>> wide = set.nodes;
  for (auto& sample : wide)
    for (Node& x : sample)
      if (x.index != -1) x.index *= spread;
  std::vector<Node*> narrow_samples(set.pointers.begin(), set.pointers.end());
  std::vector<Node*> wide_samples;
  for (auto& sample : wide) wide_samples.push_back(sample.data());
  std::vector<signed char> signs(l);
  for (int i = 0; i < l; ++i) signs[i] = i % 3 == 0 ? -1 : 1;
  const std::vector<double> b(l, -1.0);

  struct Outcome {
    std::vector<double> alpha;
    double objective;
    int iterations;
    std::string output;
  };
  auto solve = [&](std::vector<Node*>& samples, int bias_slot) {
    Outcome out;
    out.alpha.assign(l, 0.0);
    std::vector<double> w(static_cast<size_t>(bias_slot) + 2, 0.0);
    Test_run test_run;
    Solver_B_linear solver(test_run.box_solver(), test_run.progress());
    Solve_result result{0, nullptr};
    out.iterations = solver.optimize_linear(l, samples.data(), b.data(), signs.data(),
                                            out.alpha.data(), w.data(), bias_slot, 2, 0.5, 1e-6,
                                            &result, 1, 4);
    out.objective = result.objective;
    out.output = test_run.text();
    std::free(result.bounds);
    return out;
  };
  const Outcome narrow = solve(narrow_samples, set.dimension);
  const Outcome far = solve(wide_samples, (set.dimension - 1) * spread + 1);
  EXPECT_GT(far.iterations, 1);
  EXPECT_EQ(far.iterations, narrow.iterations);
  EXPECT_EQ(far.output, narrow.output);
  EXPECT_EQ(std::memcmp(&far.objective, &narrow.objective, sizeof(double)), 0);
  for (int i = 0; i < l; ++i)
    EXPECT_EQ(std::memcmp(&far.alpha[i], &narrow.alpha[i], sizeof(double)), 0) << i;
}

struct Linear_case {
  const char* name;
  int samples;
  bool regression;
  bool index_zero;
  int qpsize;
  int shrinking;
  double C_pos;
  double C_neg;
  unsigned seed;
};

void PrintTo(const Linear_case& c, std::ostream* os) {
  *os << c.name;
}

class Linear_problem_test : public ::testing::TestWithParam<Linear_case> {};

// Solves the stated dual (feature 0 included, the bias apart), keeps w equal
// to sum s_i alpha_i (x_i, 1), and leaves the final line to the caller.
TEST_P(Linear_problem_test, SolvesTheDualAndKeepsW) {
  const Linear_case& c = GetParam();
  std::mt19937 rng(c.seed);
  const Sample_set set = random_set(c.samples, 5, c.index_zero, rng);
  const int l = c.regression ? 2 * c.samples : c.samples;
  std::vector<int> sample_of(l);
  std::vector<signed char> signs(l);
  std::vector<double> b(l);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int i = 0; i < c.samples; ++i) {
    sample_of[i] = i;
    if (c.regression) {
      const double target = 2 * unit(rng);
      sample_of[c.samples + i] = i;
      signs[i] = 1;
      signs[c.samples + i] = -1;
      b[i] = 0.1 - target;
      b[c.samples + i] = 0.1 + target;
    } else {
      signs[i] = unit(rng) > 0 ? 1 : -1;
      b[i] = -1;
    }
  }
  std::vector<double> upper(l);
  for (int i = 0; i < l; ++i) upper[i] = signs[i] > 0 ? c.C_pos : c.C_neg;

  const double eps = 1e-5;
  Linear_run run = run_linear(set, sample_of, b, signs, std::vector<double>(l, 0.0),
                              std::vector<double>(set.dimension + 1, 0.0), c.C_pos, c.C_neg, eps,
                              c.shrinking, c.qpsize);
  const std::vector<double> q = linear_q(set, sample_of, signs);
  const double expected =
      testing_support::dual_objective(q, b, testing_support::reference_solve(q, b, upper));
  EXPECT_NEAR(testing_support::dual_objective(q, b, run.alpha), expected,
              1e-6 * std::fabs(expected));
  EXPECT_NEAR(run.result.objective, expected, 1e-6 * std::fabs(expected));

  std::vector<double> w(set.dimension + 1, 0.0);
  for (int i = 0; i < l; ++i) {
    const double step = signs[i] * run.alpha[i];
    for (int k = 0; k < set.dimension; ++k) w[k] += step * set.dense[sample_of[i]][k];
    w[set.dimension] += step;
  }
  for (int k = 0; k <= set.dimension; ++k) EXPECT_NEAR(run.w[k], w[k], 1e-9) << k;

  const std::vector<double> g = testing_support::dual_gradient(q, b, run.alpha);
  for (int i = 0; i < l; ++i) {
    if (run.alpha[i] <= 0) {
      EXPECT_GT(g[i], -eps - 1e-9) << i;
    }
    if (run.alpha[i] >= upper[i]) {
      EXPECT_LT(g[i], eps + 1e-9) << i;
    }
  }
  EXPECT_GT(run.iterations, 0);
  EXPECT_EQ(run.output.find("optimization finished"), std::string::npos);
  EXPECT_EQ(run.output.find_first_not_of(".*"), std::string::npos);
  std::free(run.result.bounds);
}

INSTANTIATE_TEST_SUITE_P(
    Problems, Linear_problem_test,
    ::testing::Values(Linear_case{"Classification", 40, false, false, 10, 1, 1, 1, 1},
                      Linear_case{"IndexZero", 40, false, true, 10, 1, 1, 1, 2},
                      Linear_case{"IndexZeroUnequalCosts", 50, false, true, 4, 1, 8, 2, 3},
                      Linear_case{"NoShrinking", 30, false, true, 3, 0, 4, 4, 4},
                      Linear_case{"Regression", 30, true, false, 10, 1, 2, 2, 5},
                      Linear_case{"RegressionIndexZero", 30, true, true, 6, 1, 2, 2, 6}),
    [](const ::testing::TestParamInfo<Linear_case>& info) { return info.param.name; });

// Keeps the gradient and positions as the last full check left them: every
// entry then comes from the final w (active ones from the gradient pass,
// the others from rebuild_gradient).
class Gradient_recorder : public Solver_B_linear {
 public:
  using Solver_B_linear::Solver_B_linear;
  std::vector<double> gradient_seen;
  std::vector<int> caller_seen;  // caller's index of each position
  int active_seen = -1;          // active positions the gradient pass filled

 protected:
  void rebuild_gradient() override {
    active_seen = run().active_count;
    Solver_B_linear::rebuild_gradient();
    gradient_seen = run().gradient;
    caller_seen = run().position_map;
  }
};

struct Exact_case {
  const char* name;
  int count;  // samples
  bool regression;
  int qpsize;
  int shrinking;
  unsigned seed;
};

void PrintTo(const Exact_case& c, std::ostream* os) {
  *os << c.name;
}

class Linear_exact_test : public ::testing::TestWithParam<Exact_case> {};

// Every gradient entry is, to the last bit, s_i (w . x_i + bias) + b_i with
// the dot product summed in the node order of x_i, whatever the positions
// and whether regression variables share their sample's nodes.
TEST_P(Linear_exact_test, GradientIsThePlainSumOfTheFinalW) {
  const Exact_case& c = GetParam();
  std::mt19937 rng(c.seed);
  const int count = c.count;
  // Uneven lengths, index 0 included, values of full precision.
  const Sample_set set = random_set(count, 9, true, rng);
  const int l = c.regression ? 2 * count : count;
  std::vector<Node*> samples(l);
  std::vector<signed char> signs(l);
  std::vector<double> b(l);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int i = 0; i < count; ++i) {
    samples[i] = set.pointers[i];
    if (c.regression) {
      const double target = 3 * unit(rng);
      samples[count + i] = set.pointers[i];
      signs[i] = 1;
      signs[count + i] = -1;
      b[i] = 0.05 - target;
      b[count + i] = 0.05 + target;
    } else {
      signs[i] = unit(rng) > 0 ? 1 : -1;
      b[i] = -1;
    }
  }
  std::vector<double> alpha(l, 0.0);
  std::vector<double> w(set.dimension + 2, 0.0);  // features, the bias, the padding slot
  // One object for both solves, as alpha seeding uses it: the second starts
  // from the first solution scaled to the doubled cost.
  Test_run test_run;
  Gradient_recorder solver(test_run.box_solver(), test_run.progress());
  for (double cost : {3.0, 6.0}) {
    if (cost != 3.0) {
      for (double& a : alpha) a *= 2;
      for (double& v : w) v *= 2;
    }
    Solve_result result{0, nullptr};
    const int iterations =
        solver.optimize_linear(l, samples.data(), b.data(), signs.data(), alpha.data(), w.data(),
                               set.dimension, cost, cost, 1e-6, &result, c.shrinking, c.qpsize);
    std::free(result.bounds);
    ASSERT_GT(iterations, 0);
    ASSERT_GT(solver.active_seen, 0);
    ASSERT_EQ(solver.gradient_seen.size(), static_cast<size_t>(l));

    for (int p = 0; p < l; ++p) {
      const int i = solver.caller_seen[p];
      double dot = 0;
      for (const Node* x = samples[i]; x->index != -1; ++x) dot += w[x->index] * x->value;
      const double expected = signs[i] * (dot + w[set.dimension]) + b[i];
      EXPECT_EQ(std::memcmp(&solver.gradient_seen[p], &expected, sizeof expected), 0)
          << "cost " << cost << ", variable " << i << " at " << p << ": "
          << solver.gradient_seen[p] << " vs " << expected;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Problems, Linear_exact_test,
    ::testing::Values(Exact_case{"Classification", 37, false, 6, 0, 11},
                      Exact_case{"ClassificationShrinking", 37, false, 6, 1, 12},
                      Exact_case{"ClassificationPairs", 37, false, 2, 1, 13},
                      Exact_case{"ManySamplesShrinking", 300, false, 4, 1, 16},
                      Exact_case{"Regression", 37, true, 5, 0, 14},
                      Exact_case{"RegressionShrinking", 37, true, 10, 1, 15},
                      Exact_case{"RegressionManySamples", 300, true, 8, 1, 17}),
    [](const ::testing::TestParamInfo<Exact_case>& info) { return info.param.name; });

TEST(SolverBLinearTest, WarmStartFromScaledSolution) {
  // What alpha seeding does: solve at cost 1, scale alpha and w by 2, solve
  // at cost 2. The result must solve the problem at cost 2.
  std::mt19937 rng(9);
  const Sample_set set = random_set(40, 4, true, rng);
  std::vector<signed char> signs(40);
  for (int i = 0; i < 40; ++i) signs[i] = i % 2 ? 1 : -1;
  const std::vector<double> b(40, -1.0);
  Linear_run first = run_linear(set, identity(40), b, signs, std::vector<double>(40, 0.0),
                                std::vector<double>(5, 0.0), 1, 1, 1e-5, 1, 10);
  for (double& a : first.alpha) a *= 2;
  for (double& v : first.w) v *= 2;
  Linear_run second = run_linear(set, identity(40), b, signs, first.alpha, first.w, 2, 2, 1e-5,
                                 1, 10);
  const std::vector<double> q = linear_q(set, identity(40), signs);
  const double expected = testing_support::dual_objective(
      q, b, testing_support::reference_solve(q, b, std::vector<double>(40, 2.0)));
  EXPECT_NEAR(testing_support::dual_objective(q, b, second.alpha), expected,
              1e-6 * std::fabs(expected));
  std::free(first.result.bounds);
  std::free(second.result.bounds);
}

}  // namespace
}  // namespace tevra
