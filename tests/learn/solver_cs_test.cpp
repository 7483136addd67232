#include "learn/solver_cs.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/crammer_singer_step.h"
#include "tests/learn/solver_test_support.h"

namespace tevra {
namespace {

using testing_support::Dense_Q;
using testing_support::Test_run;

constexpr double infinity = std::numeric_limits<double>::infinity();

// A small multi-class problem with everything an independent check needs.
struct Problem_data {
  int l = 0;
  int k = 0;
  int svm_type = spoc;
  std::vector<float> Q;                // row-major l x l
  std::vector<int> labels;
  std::vector<double> class_C;

  double d(int c) const { return svm_type == spoc_l2 ? 0.5 / class_C[c] : 0.0; }
  double U(int c) const { return svm_type == spoc_l2 ? infinity : class_C[c]; }
  double q(int i, int j) const { return Q[static_cast<std::size_t>(i) * l + j]; }

  // The dual objective, straight from its definition.
  double objective(const std::vector<double>& a) const {
    double value = 0;
    for (int m = 0; m < k; ++m)
      for (int i = 0; i < l; ++i)
        for (int j = 0; j < l; ++j) value += 0.5 * q(i, j) * a[i * k + m] * a[j * k + m];
    for (int i = 0; i < l; ++i) {
      const int y = labels[i];
      value += 0.5 * d(y) * a[i * k + y] * a[i * k + y];
      for (int m = 0; m < k; ++m)
        if (m != y) value += a[i * k + m];
    }
    return value;
  }
};

enum class Kernel_kind { linear_kernel, rbf_kernel };

// Random samples in dim dimensions, turned into a kernel matrix. With
// zero_sample set, sample 0 is all zero: its linear-kernel row vanishes.
Problem_data make_problem(int l, int k, int dim, Kernel_kind kind, int svm_type,
                          std::vector<double> class_C, bool zero_sample, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  Problem_data p;
  p.l = l;
  p.k = k;
  p.svm_type = svm_type;
  p.class_C = std::move(class_C);
  std::vector<double> x(static_cast<std::size_t>(l) * dim);
  for (int i = 0; i < l; ++i) {
    p.labels.push_back(i % k);
    for (int f = 0; f < dim; ++f)
      // Class-dependent shift so that the classes overlap only in part.
      x[i * dim + f] = (zero_sample && i == 0) ? 0.0 : uniform(random) + (f == i % k ? 0.8 : 0.0);
  }
  p.Q.resize(static_cast<std::size_t>(l) * l);
  for (int i = 0; i < l; ++i)
    for (int j = 0; j < l; ++j) {
      double value = 0;
      if (kind == Kernel_kind::linear_kernel) {
        for (int f = 0; f < dim; ++f) value += x[i * dim + f] * x[j * dim + f];
      } else {
        double distance = 0;
        for (int f = 0; f < dim; ++f)
          distance += (x[i * dim + f] - x[j * dim + f]) * (x[i * dim + f] - x[j * dim + f]);
        value = std::exp(-0.5 * distance);
      }
      p.Q[static_cast<std::size_t>(i) * l + j] = static_cast<float>(value);
    }
  return p;
}

// Independent solver: cyclic pairwise coordinate descent. Each step moves
// mass between two classes of one sample (keeping the sample's sum at zero)
// to the exact minimiser on that line, clipped to the box.
std::vector<double> reference_solve(const Problem_data& p, double tolerance) {
  const int l = p.l;
  const int k = p.k;
  std::vector<double> a(static_cast<std::size_t>(l) * k, 0.0);
  std::vector<double> G(static_cast<std::size_t>(l) * k, 1.0);
  for (int i = 0; i < l; ++i) G[i * k + p.labels[i]] = 0;
  for (int sweep = 0; sweep < 200000; ++sweep) {
    double worst = 0;
    for (int i = 0; i < l; ++i) {
      const int y = p.labels[i];
      auto upper = [&](int m) { return m == y ? p.U(y) : 0.0; };
      for (int s = 0; s < k; ++s)
        for (int r = 0; r < k; ++r) {
          if (s == r) continue;
          // Direction: a_s += t, a_r -= t.
          const double slope = G[i * k + s] - G[i * k + r];
          const double curvature =
              2 * p.q(i, i) + (s == y ? p.d(y) : 0.0) + (r == y ? p.d(y) : 0.0);
          const double t_max = upper(s) - a[i * k + s];
          if (slope >= 0 || t_max <= 0) continue;  // the reverse pair handles the other side
          worst = std::max(worst, -slope);
          double t = curvature > 0 ? -slope / curvature : t_max;
          t = std::min(t, t_max);
          if (!(t > 0)) continue;
          a[i * k + s] += t;
          a[i * k + r] -= t;
          for (int j = 0; j < l; ++j) {
            G[j * k + s] += p.q(i, j) * t;
            G[j * k + r] -= p.q(i, j) * t;
          }
          if (s == y) G[i * k + y] += p.d(y) * t;
          if (r == y) G[i * k + y] -= p.d(y) * t;
        }
    }
    if (worst < tolerance) break;
  }
  return a;
}

// ---------------------------------------------------------------------------
// The one-sample sub-problem.

// Minimiser of 1/2 A |a|^2 + 1/2 d a_y^2 + B'a over sum(a) = 0, a_m <= 0
// (m != y), a_y <= U, found by trying every set of variables held at their
// bounds and solving the equality-constrained rest exactly.
std::vector<double> brute_force_sample(double A, double d, double U, const std::vector<double>& B,
                                       int y) {
  const int k = static_cast<int>(B.size());
  std::vector<double> best_a;
  double best_value = infinity;
  for (int mask = 0; mask < (1 << k); ++mask) {
    if ((mask >> y & 1) && U == infinity) continue;
    std::vector<double> a(k, 0.0);
    double fixed = 0;
    double inverse_sum = 0;
    double weighted_sum = 0;
    for (int m = 0; m < k; ++m) {
      if (mask >> m & 1) {
        a[m] = m == y ? U : 0.0;
        fixed += a[m];
      } else {
        const double h = A + (m == y ? d : 0.0);
        inverse_sum += 1 / h;
        weighted_sum += B[m] / h;
      }
    }
    if (inverse_sum == 0) {
      if (std::fabs(fixed) > 1e-12) continue;
    } else {
      const double lambda = (-fixed + weighted_sum) / inverse_sum;
      for (int m = 0; m < k; ++m)
        if (!(mask >> m & 1)) a[m] = (lambda - B[m]) / (A + (m == y ? d : 0.0));
    }
    bool feasible = true;
    for (int m = 0; m < k; ++m)
      if (a[m] > (m == y ? U : 0.0) + 1e-12) feasible = false;
    if (!feasible) continue;
    double value = 0;
    for (int m = 0; m < k; ++m) value += 0.5 * A * a[m] * a[m] + B[m] * a[m];
    value += 0.5 * d * a[y] * a[y];
    if (value < best_value) {
      best_value = value;
      best_a = a;
    }
  }
  return best_a;
}

class SolveSample : public ::testing::TestWithParam<int> {};

TEST_P(SolveSample, MatchesBruteForceMinimiser) {
  const int svm_type = GetParam();
  std::mt19937 random(20261210 + svm_type);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 2000; ++trial) {
    const int k = 2 + static_cast<int>(unit(random) * 5);  // 2 to 6 classes
    std::vector<double> class_C(k);
    for (double& c : class_C) c = 0.05 + 10 * unit(random);
    const double A = trial % 10 == 0 ? 1e-4 + unit(random) * 1e-3 : 0.05 + 5 * unit(random);
    const int y = static_cast<int>(unit(random) * k);
    std::vector<double> B(k);
    for (double& b : B) b = -4 + 8 * unit(random);
    if (trial % 7 == 0) B[(y + 1) % k] = B[y];  // ties between the label and another class

    const double d = svm_type == spoc_l2 ? 0.5 / class_C[y] : 0.0;
    const double U = svm_type == spoc_l2 ? infinity : class_C[y];
    std::vector<double> result(k);
    std::vector<double> sort_buffer(k + 1);
    solve_crammer_singer_step(A, B.data(), k, y, class_C[y], d, U, sort_buffer.data(),
                              result.data());

    const std::vector<double> expected = brute_force_sample(A, d, U, B, y);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(k));
    double sum = 0;
    for (int m = 0; m < k; ++m) {
      const double scale = 1 + std::fabs(expected[m]);
      EXPECT_NEAR(result[m], expected[m], 1e-8 * scale) << "trial " << trial << " class " << m;
      EXPECT_LE(result[m], m == y ? U : 0.0);
      sum += result[m];
    }
    EXPECT_NEAR(sum, 0.0, 1e-8 * (1 + std::fabs(result[y]))) << "trial " << trial;
  }
}

INSTANTIATE_TEST_SUITE_P(BothFormulations, SolveSample, ::testing::Values(spoc, spoc_l2),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(svm_type_names[info.param]);
                         });

// ---------------------------------------------------------------------------
// A sample without curvature (Q_ii = 0): the linear branch.

struct Flat_case {
  const char* name;
  int svm_type;
  int label;
  double gradient[3];
  double expected[3];  // in units of C = 2
};

void PrintTo(const Flat_case& c, std::ostream* os) { *os << c.name; }

class FlatSample : public ::testing::TestWithParam<Flat_case> {};

TEST_P(FlatSample, MovesMassToTheFirstLargestClass) {
  const Flat_case& c = GetParam();
  // Sample 0 has an all-zero row; sample 1 keeps the matrix non-trivial.
  Dense_Q q(2, {0, 0, 0, 1});
  const std::vector<double> class_C(3, 2.0);
  const std::vector<int> labels = {c.label, 0};
  const std::vector<double> start(6, 0.0);
  Test_run run;
  Solver_CS solver(run.progress());
  solver.initialize(2, q, start.data(), labels.data(), class_C.data(), 1e-3, 3, c.svm_type);
  Solver_CS::Run state = solver.run();
  for (int m = 0; m < 3; ++m) state.gradient[solver.class_entry(0, m)] = c.gradient[m];
  solver.replace_run(std::move(state));
  double other_gradient[3];
  for (int m = 0; m < 3; ++m) other_gradient[m] = solver.run().gradient[solver.class_entry(1, m)];

  solver.update_sample(0);

  for (int m = 0; m < 3; ++m) EXPECT_EQ(solver.run().alpha[m], 2.0 * c.expected[m]) << "class " << m;
  // Q_0j = 0: no other sample's gradient moves.
  for (int m = 0; m < 3; ++m)
    EXPECT_EQ(solver.run().gradient[solver.class_entry(1, m)], other_gradient[m]) << "class " << m;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FlatSample,
    ::testing::Values(
        // The label is the largest: nothing moves.
        Flat_case{"LabelLargest", spoc, 1, {0.5, 0.9, 0.7}, {0, 0, 0}},
        // Ties are won by the first class, here the label.
        Flat_case{"TieWonByLabel", spoc, 1, {0.5, 0.7, 0.7}, {0, 0, 0}},
        // Ties are won by the first class, here not the label: C moves.
        Flat_case{"TieWonByOther", spoc, 2, {0.5, 0.7, 0.7}, {0, -1, 1}},
        Flat_case{"FirstOfThreeEqual", spoc, 1, {0.7, 0.7, 0.7}, {-1, 1, 0}},
        // spoc_l2 moves 2 C (B_b - B_y); a tie with the label moves nothing.
        Flat_case{"L2Distance", spoc_l2, 2, {0.2, 0.9, 0.4}, {0, -1, 1}},
        Flat_case{"L2TieWithOther", spoc_l2, 1, {0.7, 0.7, 0.2}, {0, 0, 0}},
        Flat_case{"L2LabelLargest", spoc_l2, 0, {0.9, 0.7, 0.2}, {0, 0, 0}}),
    [](const ::testing::TestParamInfo<Flat_case>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Whole runs against the independent solver.

struct Run_case {
  const char* name;
  int l;
  int k;
  int dim;
  Kernel_kind kind;
  int svm_type;
  std::vector<double> class_C;
  bool zero_sample;
  int shrinking;
};

void PrintTo(const Run_case& c, std::ostream* os) { *os << c.name; }

class WholeRun : public ::testing::TestWithParam<Run_case> {};

double printed_objective(const std::string& text) {
  const std::size_t at = text.find("obj = ");
  if (at == std::string::npos) return std::nan("");
  return std::stod(text.substr(at + 6));
}

TEST_P(WholeRun, ReachesTheIndependentOptimum) {
  const Run_case& c = GetParam();
  const Problem_data p = make_problem(c.l, c.k, c.dim, c.kind, c.svm_type, c.class_C,
                                      c.zero_sample, 7 + c.l * 31 + c.k);
  Dense_Q q(p.l, p.Q);
  std::vector<double> alpha(static_cast<std::size_t>(p.l) * p.k, 0.0);
  Test_run run;
  Solver_CS solver(run.progress());
  solver.solve(p.l, q, alpha.data(), p.labels.data(), p.class_C.data(), 1e-7, c.shrinking, p.k,
               p.svm_type);

  for (int i = 0; i < p.l; ++i) {
    const int y = p.labels[i];
    double sum = 0;
    for (int m = 0; m < p.k; ++m) {
      const double a = alpha[i * p.k + m];
      if (m == y) {
        EXPECT_GE(a, -1e-12) << "sample " << i;
        EXPECT_LE(a, p.U(y)) << "sample " << i;
      } else {
        EXPECT_LE(a, 0.0) << "sample " << i << " class " << m;
      }
      sum += a;
    }
    EXPECT_NEAR(sum, 0.0, 1e-9 * (1 + alpha[i * p.k + y])) << "sample " << i;
  }

  const std::vector<double> reference = reference_solve(p, 1e-11);
  const double expected = p.objective(reference);
  const double reached = p.objective(alpha);
  EXPECT_NEAR(reached, expected, 1e-6 * (1 + std::fabs(expected)));
  // The printed objective comes from the solver's own gradient, rebuilt for
  // shrunk samples: it must agree with the returned coefficients.
  EXPECT_NEAR(printed_objective(run.text()), reached, 1e-5 * (1 + std::fabs(reached)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WholeRun,
    ::testing::Values(
        Run_case{"SpocRbf", 24, 3, 2, Kernel_kind::rbf_kernel, spoc, {1.0, 1.0, 1.0}, false, 1},
        Run_case{"SpocRbfNoShrinking", 24, 3, 2, Kernel_kind::rbf_kernel, spoc, {1, 1, 1}, false,
                 0},
        Run_case{"SpocLinearWeighted", 30, 4, 3, Kernel_kind::linear_kernel, spoc,
                 {0.5, 2.0, 1.0, 4.0}, false, 1},
        Run_case{"SpocTwoClasses", 20, 2, 2, Kernel_kind::rbf_kernel, spoc, {1, 1}, false, 1},
        Run_case{"SpocZeroSample", 21, 3, 2, Kernel_kind::linear_kernel, spoc, {1, 1, 1}, true, 1},
        Run_case{"L2Rbf", 24, 3, 2, Kernel_kind::rbf_kernel, spoc_l2, {1, 1, 1}, false, 1},
        Run_case{"L2LinearWeighted", 30, 4, 3, Kernel_kind::linear_kernel, spoc_l2,
                 {0.5, 2.0, 1.0, 4.0}, false, 1},
        Run_case{"L2ZeroSample", 21, 3, 2, Kernel_kind::linear_kernel, spoc_l2, {1, 1, 1}, true,
                 0},
        Run_case{"SpocManySamples", 120, 5, 3, Kernel_kind::rbf_kernel, spoc, {2, 2, 2, 2, 2},
                 false, 1}),
    [](const ::testing::TestParamInfo<Run_case>& info) { return std::string(info.param.name); });

// A feasible non-zero start must reach the same optimum as the zero start:
// the starting gradient has to include the label's diagonal term.
TEST(SolverCs, NonZeroStartReachesTheOptimum) {
  for (const int svm_type : {spoc, spoc_l2}) {
    const Problem_data p =
        make_problem(18, 3, 2, Kernel_kind::rbf_kernel, svm_type, {1.0, 3.0, 0.5}, false, 99);
    std::vector<double> alpha(static_cast<std::size_t>(p.l) * p.k, 0.0);
    for (int i = 0; i < p.l; ++i) {
      const int y = p.labels[i];
      const int other = (y + 1) % p.k;
      const double moved = 0.4 * p.class_C[y];
      alpha[i * p.k + y] = moved;
      alpha[i * p.k + other] = -moved;
    }
    Dense_Q q(p.l, p.Q);
    Test_run run;
    Solver_CS solver(run.progress());
    solver.solve(p.l, q, alpha.data(), p.labels.data(), p.class_C.data(), 1e-8, 1, p.k,
                 p.svm_type);
    const double expected = p.objective(reference_solve(p, 1e-11));
    EXPECT_NEAR(p.objective(alpha), expected, 1e-6 * (1 + std::fabs(expected)))
        << svm_type_names[svm_type];
  }
}

// ---------------------------------------------------------------------------
// Schedule: progress marks every P updates, P = 2 l below 1000 samples and
// 2000 from then on.

TEST(SolverCs, ShrinkPeriod) {
  const struct {
    int l;
    int period;
  } cases[] = {{1, 2}, {10, 20}, {999, 1998}, {1000, 2000}, {1001, 2000}, {250000, 2000}};
  for (const auto& c : cases) EXPECT_EQ(Solver_CS::shrink_period(c.l), c.period) << c.l;
}

class Countdown : public ::testing::TestWithParam<int> {};

// Without shrinking the active set stays full, so every column request is
// one update; a "." must follow every P updates exactly.
TEST_P(Countdown, MarksEveryPeriodUpdates) {
  const int l = GetParam();
  const int period = Solver_CS::shrink_period(l);
  const Problem_data p =
      make_problem(l, 3, 2, Kernel_kind::rbf_kernel, spoc, {1, 1, 1}, false, 5);
  Dense_Q q(p.l, p.Q);
  std::vector<double> alpha(static_cast<std::size_t>(p.l) * p.k, 0.0);
  Test_run run;
  run.echo_into(&q.events);
  Solver_CS solver(run.progress());
  solver.solve(p.l, q, alpha.data(), p.labels.data(), p.class_C.data(), 1e-3, 0, p.k, p.svm_type);

  const std::string& events = q.events;
  const std::size_t last_update = events.rfind('c');
  ASSERT_NE(last_update, std::string::npos);
  int updates = 0;
  int marks = 0;
  for (std::size_t at = 0; at <= last_update; ++at) {
    if (events[at] == 'c') ++updates;
    if (events[at] == '.') {
      ++marks;
      EXPECT_EQ(updates, marks * period) << "mark " << marks;
    }
  }
  ASSERT_GE(updates, period) << "the run must be long enough to show one period";
  EXPECT_EQ(marks, updates / period);
}

INSTANTIATE_TEST_SUITE_P(SampleCounts, Countdown, ::testing::Values(12, 1200));

// Selecting the same sample right after a progress mark ends the run even
// though its violation still exceeds eps: no full check ("*") takes place.
// This one-sample problem keeps a rounding-level violation after its exact
// update, above the tiny eps: two updates, the mark, then the stop.
TEST(SolverCs, SameSampleAfterMarkStops) {
  Dense_Q q(1, {0.35086903f});
  const std::vector<int> labels = {1};
  const std::vector<double> class_C(2, 4.6843066725400684);
  std::vector<double> alpha(2, 0.0);
  Test_run run;
  Solver_CS(run.progress())
      .solve(1, q, alpha.data(), labels.data(), class_C.data(), 1e-300, 0, 2, spoc);
  EXPECT_EQ(q.lengths.size(), 2u);
  const std::string& text = run.text();
  EXPECT_EQ(text.substr(0, 2), ".\n") << text;
  EXPECT_NE(text.find("#iter = 2,"), std::string::npos) << text;
}

// A kernel that is not positive semi-definite can give Q_ii < 0. Such a
// sample is moved like one without curvature, so every row stays feasible
// and finite (the closed form would break the row's sum, or divide by
// A + d = 0 under spoc_l2).
class NegativeDiagonal : public ::testing::TestWithParam<int> {};

TEST_P(NegativeDiagonal, RowsStayFeasibleAndFinite) {
  const int svm_type = GetParam();
  // Q_00 = -0.5 = -d under spoc_l2 with C = 1.
  Dense_Q q(3, {-0.5f, 0.1f, 0.0f, 0.1f, 1.0f, 0.2f, 0.0f, 0.2f, -1.0f});
  const std::vector<int> labels = {0, 1, 2};
  const std::vector<double> class_C(3, 1.0);
  std::vector<double> alpha(9, 0.0);
  Test_run run;
  Solver_CS(run.progress())
      .solve(3, q, alpha.data(), labels.data(), class_C.data(), 1e-3, 1, 3, svm_type);
  for (int i = 0; i < 3; ++i) {
    double sum = 0;
    for (int m = 0; m < 3; ++m) {
      const double a = alpha[i * 3 + m];
      EXPECT_TRUE(std::isfinite(a)) << "sample " << i << " class " << m;
      EXPECT_LE(a, m == labels[i] ? (svm_type == spoc ? 1.0 : infinity) : 0.0);
      sum += a;
    }
    EXPECT_NEAR(sum, 0.0, 1e-12) << "sample " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(BothFormulations, NegativeDiagonal, ::testing::Values(spoc, spoc_l2),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(svm_type_names[info.param]);
                         });

// ---------------------------------------------------------------------------
// Positions and the caller's order.

TEST(SolverCs, WriteBackUndoesExchanges) {
  const int l = 4;
  const int k = 3;
  Dense_Q q(l, std::vector<float>(l * l, 0.5f));
  const std::vector<int> labels = {0, 1, 2, 1};
  const std::vector<double> class_C(k, 5.0);
  std::vector<double> start(l * k, 0.0);
  for (int i = 0; i < l; ++i) {
    start[i * k + labels[i]] = 1.0 + i;
    start[i * k + (labels[i] + 1) % k] = -(1.0 + i);
  }
  Test_run run;
  Solver_CS solver(run.progress());
  solver.initialize(l, q, start.data(), labels.data(), class_C.data(), 1e-3, k, spoc);
  solver.swap_samples(0, 3);
  solver.swap_samples(1, 3);
  solver.swap_samples(2, 2);
  std::vector<double> out(l * k, -99.0);
  solver.finish(out.data());
  EXPECT_EQ(out, start);
}

// A run whose shrinking exchanges samples returns every row in the caller's
// order, equal to the run without shrinking up to the solver tolerance, and
// prints the objective of what it returns (the shrunk samples' gradient is
// rebuilt).
class Shrinking : public ::testing::TestWithParam<int> {};

TEST_P(Shrinking, KeepsCallerOrderAndObjective) {
  const Problem_data p =
      make_problem(60, 4, 4, Kernel_kind::linear_kernel, GetParam(), {1, 1, 1, 1}, false, 11);
  std::vector<double> shrunk(static_cast<std::size_t>(p.l) * p.k, 0.0);
  std::vector<double> plain(shrunk);
  Test_run run;
  Dense_Q q1(p.l, p.Q);
  Solver_CS(run.progress())
      .solve(p.l, q1, shrunk.data(), p.labels.data(), p.class_C.data(), 1e-9, 1, p.k, p.svm_type);
  ASSERT_GT(q1.swaps, 0);
  const double printed = printed_objective(run.text());
  EXPECT_NEAR(printed, p.objective(shrunk), 1e-5 * (1 + std::fabs(printed)));
  Dense_Q q2(p.l, p.Q);
  Solver_CS(run.progress())
      .solve(p.l, q2, plain.data(), p.labels.data(), p.class_C.data(), 1e-9, 0, p.k, p.svm_type);
  for (std::size_t t = 0; t < shrunk.size(); ++t) EXPECT_NEAR(shrunk[t], plain[t], 1e-4) << t;
}

INSTANTIATE_TEST_SUITE_P(BothFormulations, Shrinking, ::testing::Values(spoc, spoc_l2),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(svm_type_names[info.param]);
                         });

// Columns are requested only for the active rows while shrinking is on.
TEST(SolverCs, ColumnsCoverOnlyActiveRows) {
  const Problem_data p =
      make_problem(80, 3, 2, Kernel_kind::rbf_kernel, spoc, {1, 1, 1}, false, 13);
  std::vector<double> alpha(static_cast<std::size_t>(p.l) * p.k, 0.0);
  Test_run run;
  Dense_Q q(p.l, p.Q);
  Solver_CS(run.progress())
      .solve(p.l, q, alpha.data(), p.labels.data(), p.class_C.data(), 1e-9, 1, p.k, p.svm_type);
  ASSERT_GT(q.swaps, 0);
  int shorter = 0;
  for (int len : q.lengths) {
    EXPECT_GE(len, 1);
    EXPECT_LE(len, p.l);
    if (len < p.l) ++shorter;
  }
  EXPECT_GT(shorter, 0);
}

// ---------------------------------------------------------------------------
// No sample to select.

TEST(SolverCs, EmptyActiveSetSelectsNoSample) {
  Dense_Q q(3, std::vector<float>(9, 1.0f));
  const std::vector<int> labels = {0, 1, 0};
  const std::vector<double> class_C = {1, 1};
  const std::vector<double> start(6, 0.0);
  Test_run run;
  Solver_CS solver(run.progress());
  solver.initialize(3, q, start.data(), labels.data(), class_C.data(), 1e-3, 2, spoc);
  int chosen = 42;
  EXPECT_GT(solver.select_sample(&chosen), 0.0);
  EXPECT_GE(chosen, 0);
  Solver_CS::Run state = solver.run();
  state.active_count = 0;
  solver.replace_run(std::move(state));
  chosen = 42;
  EXPECT_EQ(solver.select_sample(&chosen), -infinity);
  EXPECT_EQ(chosen, -1);
}

struct Degenerate_case {
  const char* name;
  int l;
  double cost;  // every class's C
  double eps;
};

void PrintTo(const Degenerate_case& c, std::ostream* os) { *os << c.name; }

class NothingToSelect : public ::testing::TestWithParam<Degenerate_case> {};

// With no samples, or with every class at cost 0 (no variable can move), the
// run ends at the full check without touching any sample, whatever eps is.
TEST_P(NothingToSelect, EndsWithoutUpdates) {
  const Degenerate_case& c = GetParam();
  Dense_Q q(c.l, std::vector<float>(static_cast<std::size_t>(c.l) * c.l, 1.0f));
  std::vector<int> labels(c.l);
  for (int i = 0; i < c.l; ++i) labels[i] = i % 3;
  const std::vector<double> class_C(3, c.cost);
  std::vector<double> alpha(static_cast<std::size_t>(c.l) * 3 + 1, 0.0);
  Test_run run;
  Solver_CS(run.progress())
      .solve(c.l, q, alpha.data(), labels.data(), class_C.data(), c.eps, 1, 3, spoc);
  EXPECT_TRUE(q.lengths.empty());
  for (double a : alpha) EXPECT_EQ(a, 0.0);
  EXPECT_NE(run.text().find("#iter = 0, obj = 0.000000"), std::string::npos)
      << run.text();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NothingToSelect,
    ::testing::Values(Degenerate_case{"NoSamples", 0, 1.0, 1e-3},
                      Degenerate_case{"ZeroCosts", 5, 0.0, 1e-3},
                      Degenerate_case{"ZeroCostsNanEps", 5, 0.0, std::nan("")},
                      Degenerate_case{"NoSamplesNanEps", 0, 1.0, std::nan("")}),
    [](const ::testing::TestParamInfo<Degenerate_case>& info) {
      return std::string(info.param.name);
    });

// ---------------------------------------------------------------------------
// The single steps against their plain definitions, bit for bit.

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Selection walked sample by sample: the largest violation max_m G - min over
// free m of G, ties to the first sample, NaN never chosen.
double plain_select(const Solver_CS& solver, int l, int k, const std::vector<int>& labels,
                    const std::vector<double>& class_C, int* chosen) {
  double best = -infinity;
  *chosen = -1;
  for (int i = 0; i < l; ++i) {
    double max_G = -infinity;
    double min_G = infinity;
    for (int m = 0; m < k; ++m) {
      const double g = solver.run().gradient[solver.class_entry(i, m)];
      const double upper = m == labels[i] ? class_C[m] : 0.0;
      if (g > max_G) max_G = g;
      if (solver.run().alpha[i * k + m] < upper && g < min_G) min_G = g;
    }
    if (max_G - min_G > best) {
      best = max_G - min_G;
      *chosen = i;
    }
  }
  return best;
}

struct Select_case {
  const char* name;
  int l;
  int k;
  bool specials;  // gradient entries may be NaN, +-inf or +-0
};

void PrintTo(const Select_case& c, std::ostream* os) { *os << c.name; }

class SelectSample : public ::testing::TestWithParam<Select_case> {};

// Coarse gradient values make ties common; sample counts cover groups of
// samples handled side by side, their remainders and several stretches.
TEST_P(SelectSample, MatchesSampleBySampleWalk) {
  const Select_case& c = GetParam();
  std::mt19937 random(c.l * 101 + c.k);
  std::uniform_int_distribution<int> pick(0, 7);
  Dense_Q q(c.l, std::vector<float>(static_cast<std::size_t>(c.l) * c.l, 1.0f));
  std::vector<int> labels(c.l);
  for (int i = 0; i < c.l; ++i) labels[i] = i % c.k;
  const std::vector<double> class_C(c.k, 2.0);
  const double specials[] = {std::nan(""), infinity, -infinity, 0.0, -0.0};
  for (int trial = 0; trial < 40; ++trial) {
    // A feasible start with label variables at 0, in between or at C.
    std::vector<double> start(static_cast<std::size_t>(c.l) * c.k, 0.0);
    for (int i = 0; i < c.l && c.k > 1; ++i) {
      const double moved = pick(random) % 3;
      start[i * c.k + labels[i]] = moved;
      start[i * c.k + (labels[i] + 1) % c.k] = -moved;
    }
    Test_run run;
    Solver_CS solver(run.progress());
    solver.initialize(c.l, q, start.data(), labels.data(), class_C.data(), 1e-3, c.k, spoc);
    Solver_CS::Run state = solver.run();
    for (int i = 0; i < c.l; ++i)
      for (int m = 0; m < c.k; ++m) {
        const int value = pick(random);
        state.gradient[solver.class_entry(i, m)] =
            c.specials && value == 7 ? specials[pick(random) % 5] : 0.25 * value - 1;
      }
    solver.replace_run(std::move(state));
    int expected_sample;
    const double expected = plain_select(solver, c.l, c.k, labels, class_C, &expected_sample);
    int chosen = 42;
    const double violation = solver.select_sample(&chosen);
    EXPECT_EQ(chosen, expected_sample) << "trial " << trial;
    EXPECT_TRUE(same_bits(violation, expected)) << "trial " << trial << ": " << violation
                                                << " instead of " << expected;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SelectSample,
    ::testing::Values(Select_case{"OneSample", 1, 3, false},
                      Select_case{"OneClass", 13, 1, false},
                      Select_case{"SevenSamples", 7, 4, true},
                      Select_case{"EightSamples", 8, 2, false},
                      Select_case{"NineSamples", 9, 5, true},
                      Select_case{"SeveralStretches", 600, 3, false},
                      Select_case{"SeveralStretchesSpecials", 531, 10, true}),
    [](const ::testing::TestParamInfo<Select_case>& info) {
      return std::string(info.param.name);
    });

struct Update_case {
  const char* name;
  int svm_type;
  int l;
  float special;       // written into column 0 at row special_row, unless 0
  int special_row;
  bool negative_zero;  // start sample 2 with its label alpha at -0
};

void PrintTo(const Update_case& c, std::ostream* os) { *os << c.name; }

class UpdateSample : public ::testing::TestWithParam<Update_case> {};

// One update must leave every gradient entry at old + q * (new - old alpha),
// the label's d term first, including the zero terms of classes whose alpha
// did not move: they turn an infinite q into NaN and a -0 entry into +0. It
// must also leave the same next selection as a fresh scan.
TEST_P(UpdateSample, GradientFollowsThePlainUpdate) {
  const Update_case& c = GetParam();
  const int k = 4;
  Problem_data p = make_problem(c.l, k, 3, Kernel_kind::rbf_kernel, c.svm_type,
                                {1.0, 2.0, 0.5, 1.5}, false, 23 + c.l);
  if (c.special != 0) {
    p.Q[c.special_row] = c.special;                           // column 0 ...
    p.Q[static_cast<std::size_t>(c.special_row) * c.l] = c.special;  // ... and row 0
  }
  std::vector<double> start(static_cast<std::size_t>(c.l) * k, 0.0);
  if (c.negative_zero) start[2 * k + p.labels[2]] = -0.0;
  Dense_Q q(c.l, p.Q);
  Test_run run;
  Solver_CS solver(run.progress());
  solver.initialize(c.l, q, start.data(), p.labels.data(), p.class_C.data(), 1e-3, k,
                   c.svm_type);
  if (c.negative_zero) {
    ASSERT_TRUE(std::signbit(solver.run().gradient[solver.class_entry(2, p.labels[2])]));
  }

  // Only one other class attracts sample 0, so the rest (among them the
  // label of sample 2) keep their alpha.
  const int y = p.labels[0];
  Solver_CS::Run state = solver.run();
  for (int m = 0; m < k; ++m)
    if (m != y) state.gradient[solver.class_entry(0, m)] = m == (y + 1) % k ? 1.0 : -3.0;
  solver.replace_run(std::move(state));
  const std::vector<double> old_gradient = solver.run().gradient;
  const std::vector<double> old_alpha = solver.run().alpha;
  solver.update_sample(0);

  int moved = 0;
  for (int m = 0; m < k; ++m) moved += solver.run().alpha[m] != old_alpha[m];
  ASSERT_GT(moved, 0);
  ASSERT_LT(moved, k) << "some class must keep its alpha";
  for (int j = 0; j < c.l; ++j)
    for (int m = 0; m < k; ++m) {
      const double change = solver.run().alpha[m] - old_alpha[m];
      double expected = old_gradient[solver.class_entry(j, m)];
      if (j == 0 && m == y) expected += change * p.d(y);
      expected += static_cast<double>(p.Q[j]) * change;
      EXPECT_TRUE(same_bits(solver.run().gradient[solver.class_entry(j, m)], expected))
          << "sample " << j << " class " << m << ": "
          << solver.run().gradient[solver.class_entry(j, m)] << " instead of " << expected;
    }

  ASSERT_TRUE(solver.run().next_known);
  int chosen;
  const double violation = solver.select_sample(&chosen);
  EXPECT_EQ(solver.run().next_sample, chosen);
  EXPECT_TRUE(same_bits(solver.run().next_violation, violation));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateSample,
    ::testing::Values(
        Update_case{"Spoc", spoc, 12, 0, 0, false},
        Update_case{"L2", spoc_l2, 12, 0, 0, false},
        Update_case{"SeveralStretches", spoc, 530, 0, 0, false},
        Update_case{"InfiniteEntry", spoc, 12, HUGE_VALF, 5, false},
        Update_case{"NanEntry", spoc_l2, 12, std::nanf(""), 7, false},
        Update_case{"InfiniteEntryLate", spoc, 530, -HUGE_VALF, 517, false},
        Update_case{"NegativeZeroEntry", spoc, 12, 0, 0, true},
        Update_case{"NegativeZeroEntryL2", spoc_l2, 12, 0, 0, true}),
    [](const ::testing::TestParamInfo<Update_case>& info) {
      return std::string(info.param.name);
    });

// The selection an update leaves behind must not outlive a change of the
// samples' positions: after exchanges it is either dropped or still right.
TEST(SolverCs, ExchangesLeaveNoStaleSelection) {
  for (const bool by_shrinking : {false, true}) {
    const Problem_data p =
        make_problem(60, 3, 2, Kernel_kind::rbf_kernel, spoc, {1, 1, 1}, false, 29);
    Dense_Q q(p.l, p.Q);
    Test_run run;
    Solver_CS solver(run.progress());
    solver.initialize(p.l, q, std::vector<double>(p.l * p.k, 0.0).data(), p.labels.data(),
                     p.class_C.data(), 1e-3, p.k, p.svm_type);
    int i;
    solver.select_sample(&i);
    for (int step = 0; step < 200; ++step) {
      solver.update_sample(i);
      i = solver.run().next_sample;
    }
    ASSERT_TRUE(solver.run().next_known);
    if (by_shrinking) {
      solver.shrink();
    } else {
      solver.swap_samples(i, p.l - 1 - i);
    }
    ASSERT_GT(q.swaps, 0) << (by_shrinking ? "shrinking" : "exchange");
    if (!solver.run().next_known) continue;
    int chosen;
    const double violation = solver.select_sample(&chosen);
    EXPECT_EQ(solver.run().next_sample, chosen) << (by_shrinking ? "shrinking" : "exchange");
    EXPECT_TRUE(same_bits(solver.run().next_violation, violation));
  }
}

// ---------------------------------------------------------------------------
// Summary lines.

TEST(SolverCs, SummaryCountsVariables) {
  // spoc_l2 has no upper bound on the label entries: all of them count as
  // free, whatever their value.
  const Problem_data p =
      make_problem(15, 3, 2, Kernel_kind::rbf_kernel, spoc_l2, {1, 1, 1}, false, 17);
  std::vector<double> alpha(static_cast<std::size_t>(p.l) * p.k, 0.0);
  Dense_Q q(p.l, p.Q);
  Test_run run;
  Solver_CS(run.progress())
      .solve(p.l, q, alpha.data(), p.labels.data(), p.class_C.data(), 1e-6, 1, p.k, p.svm_type);
  int nonzero = 0;
  int free_count = p.l;
  for (int i = 0; i < p.l; ++i)
    for (int m = 0; m < p.k; ++m) {
      if (alpha[i * p.k + m] != 0) ++nonzero;
      if (m != p.labels[i] && alpha[i * p.k + m] < 0) ++free_count;
    }
  char expected[64];
  std::snprintf(expected, sizeof expected, "nSV = %d, nFREE = %d\n", nonzero, free_count);
  const std::string& text = run.text();
  EXPECT_NE(text.find("\noptimization finished, #iter = "), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - std::string(expected).size()), expected) << text;
}

}  // namespace
}  // namespace tevra
