#include "learn/solver_b.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "tests/learn/solver_test_support.h"

namespace tevra {
namespace {

using testing_support::Dense_Q;
using testing_support::Test_run;
using testing_support::With_test_run;
using S = Bound_state;

// Opens the solver's selection and shrinking to tests on a hand-made state.
class Probe : private With_test_run, public Solver_B {
 public:
  Probe() : Solver_B(test_run.box_solver(), test_run.progress()) {}
  const std::string& output() const { return test_run.text(); }

  // A state of l variables with the given gradient and bound states, all
  // active unless active < l; C_pos = C_neg = 1.
  void set_state(int working_set_size, double tolerance, const std::vector<double>& g,
                 const std::vector<S>& states, int active, Q_matrix* q = nullptr) {
    const int l = static_cast<int>(g.size());
    std::vector<double> zeros(l, 0.0);
    allocate_run(l, zeros.data(), tolerance, 1, working_set_size, true);
    signs.assign(l, 1);
    C_pos = C_neg = 1;
    q_matrix = q;
    own_linear_term.assign(l, 0.0);
    linear_term = own_linear_term.data();
    gradient = g;
    bound_state = states;
    for (int p = 0; p < l; ++p) alpha[p] = states[p] == S::at_upper ? 1 : states[p] == S::free ? 0.5 : 0;
    active_count = active;
  }

  using Solver_B::choose_working_set;
  using Solver_B::shrink;
  using Solver_B::start_schedule;
  using Solver_B::allocate_run;
  using Solver_B::next_working_set;

  // Records the state the hook sees.
  void after_failed_full_check() override {
    ++hook_calls;
    hook_saw_active = active_count;
    hook_saw_set = working_set;
  }
  int hook_calls = 0;
  int hook_saw_active = -1;
  std::vector<int> hook_saw_set;

  std::vector<double> own_linear_term;
  std::vector<int>& ws() { return working_set; }
  std::vector<double>& g() { return gradient; }
  std::vector<double>& b() { return own_linear_term; }
  std::vector<double>& upper_gradient() { return bound_gradient; }
  std::vector<int>& map() { return position_map; }
  int active() const { return active_count; }
  bool was_reactivated() const { return reactivated; }
  int schedule_period() const { return period; }
  int schedule_counter() const { return counter; }
};

// --- Working-set selection -------------------------------------------------

struct Selection_case {
  const char* name;
  int qpsize;
  std::vector<double> gradient;
  std::vector<S> states;
  std::vector<int> expected_set;
  double expected_Gmax;
};

void PrintTo(const Selection_case& c, std::ostream* os) {
  *os << c.name;
}

class Selection_test : public ::testing::TestWithParam<Selection_case> {};

TEST_P(Selection_test, PicksPositionsInListOrder) {
  const Selection_case& c = GetParam();
  Probe probe;
  probe.set_state(c.qpsize, 1e-3, c.gradient, c.states, static_cast<int>(c.gradient.size()));
  std::fill(probe.ws().begin(), probe.ws().end(), 99);
  const Selection selection = probe.choose_working_set();
  ASSERT_EQ(selection.count, static_cast<int>(c.expected_set.size()));
  for (int k = 0; k < selection.count; ++k) EXPECT_EQ(probe.ws()[k], c.expected_set[k]) << k;
  // Entries past count keep what was there before.
  for (int k = selection.count; k < c.qpsize; ++k) EXPECT_EQ(probe.ws()[k], 99);
  EXPECT_EQ(selection.Gmax, c.expected_Gmax);
}

const double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Tables, Selection_test,
    ::testing::Values(
        // All three free variables fit the half of 5: largest |G| first;
        // no free variable competes in phase 2.
        Selection_case{"FewFreeAllInPhaseOne", 10, {0.5, -0.1, 0.3}, {S::free, S::free, S::free},
                       {0, 2, 1}, 0.0},
        // Half 2 keeps 0.3 and 0.1; the free 0.5 competes with the bound
        // violators (0.4 at 0, 0.7 at the bound) for two slots; a variable at
        // 0 with positive G is no candidate.
        Selection_case{"FreeVariableBeyondDCompetes",
                       4,
                       {0.5, 0.1, -0.3, -0.4, 0.7, 1.0},
                       {S::free, S::free, S::free, S::at_lower, S::at_upper, S::at_lower},
                       {2, 1, 0, 4},
                       0.7},
        // Equal values: the later newcomer sits nearer the front, a newcomer
        // equal to the largest kept value stays out, and v <= d skips it.
        Selection_case{"EqualFreeValues",
                       4,
                       {1, 1, 1, 1, 1, 0.2, -0.2, 0.2},
                       {S::at_lower, S::at_lower, S::at_lower, S::at_lower, S::at_lower, S::free,
                        S::free, S::free},
                       {6, 5},
                       0.0},
        // Ties among violators: the later one sits nearer the front.
        Selection_case{"TiedViolatorsAtZero",
                       4,
                       {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
                       std::vector<S>(10, S::at_lower),
                       {3, 2, 1, 0},
                       1.0},
        // Bound variables with G = 0 fill free slots with value 0.
        Selection_case{"ZeroGradientAtBound", 4, {0.0, 2.0}, {S::at_upper, S::at_lower}, {0}, 0.0},
        // At the upper bound a negative G is optimal; a positive one violates.
        Selection_case{"UpperBoundSigns",
                       2,
                       {-3, 0.25, -0.5},
                       {S::at_upper, S::at_upper, S::at_lower},
                       {1, 2},
                       0.5},
        // Phase 2 keeps the largest violations, smallest first.
        Selection_case{"KeepsLargestViolations",
                       2,
                       {-0.1, -0.9, 0.4, -0.3, 0.8},
                       {S::at_lower, S::at_lower, S::at_upper, S::at_lower, S::at_upper},
                       {4, 1},
                       0.9},
        // One free variable with half 1: it alone is phase 1 and d is its |G|.
        Selection_case{"HalfOne", 3, {-0.2, -5, 0.1}, {S::free, S::at_lower, S::free}, {2, 0, 1}, 5.0}),
    [](const ::testing::TestParamInfo<Selection_case>& info) { return info.param.name; });

TEST(SelectionTest, InactivePositionsAreIgnored) {
  Probe probe;
  probe.set_state(4, 1e-3, {-0.1, -0.2, -9, 0.5}, {S::at_lower, S::at_lower, S::at_lower, S::free},
                  2);
  const Selection selection = probe.choose_working_set();
  ASSERT_EQ(selection.count, 2);
  EXPECT_EQ(probe.ws()[0], 0);
  EXPECT_EQ(probe.ws()[1], 1);
  EXPECT_EQ(selection.Gmax, 0.2);
}

TEST(SelectionTest, NoActiveVariableGivesEmptySelection) {
  Probe probe;
  probe.set_state(4, 1e-3, {-1, -1}, {S::at_lower, S::at_lower}, 0);
  const Selection selection = probe.choose_working_set();
  EXPECT_EQ(selection.count, 0);
  EXPECT_EQ(selection.Gmax, 0.0);
  (void)inf;
}

// --- Shrinking -------------------------------------------------------------

// Identity-free Q so that swaps and rebuilds are cheap and exact.
std::vector<double> unit_q(int n) {
  std::vector<double> q(static_cast<size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) q[i * n + i] = 1;
  return q;
}

TEST(ShrinkTest, DeactivatesOnlyVariablesBeyondTheLargestViolation) {
  // Gm = 0.5 (position 0); eps small enough that no reactivation follows.
  Dense_Q q(5, testing_support::single(unit_q(5)));
  Probe probe;
  probe.set_state(2, 0.01, {-0.5, 0.6, 0.5, -0.6, -0.5},
                  {S::at_lower, S::at_lower, S::at_lower, S::at_upper, S::at_upper}, 5, &q);
  probe.shrink();
  EXPECT_EQ(probe.active(), 3);
  // Positions 1 (G 0.6 at 0) and 3 (G -0.6 at C) left; the rest stay.
  std::vector<int> active(probe.map().begin(), probe.map().begin() + probe.active());
  std::sort(active.begin(), active.end());
  EXPECT_EQ(active, (std::vector<int>{0, 2, 4}));
  EXPECT_FALSE(probe.was_reactivated());
}

TEST(ShrinkTest, FreeVariablesStayActive) {
  Dense_Q q(3, testing_support::single(unit_q(3)));
  Probe probe;
  probe.set_state(2, 0.01, {-0.5, 5, 0.0}, {S::at_lower, S::free, S::free}, 3, &q);
  probe.shrink();
  EXPECT_EQ(probe.active(), 3);
}

TEST(ShrinkTest, NothingHappensBelowEps) {
  Dense_Q q(2, testing_support::single(unit_q(2)));
  Probe probe;
  probe.set_state(2, 0.1, {-0.05, 3}, {S::at_lower, S::at_lower}, 2, &q);
  probe.shrink();
  EXPECT_EQ(probe.active(), 2);
  EXPECT_FALSE(probe.was_reactivated());
}

TEST(ShrinkTest, ReactivatesOnceWithRebuiltGradients) {
  // eps 0.1, Gm 0.5 <= 10 eps: inactive variables are judged with rebuilt
  // gradients (b + bound_gradient here, as no free variable is active).
  Dense_Q q6(6, testing_support::single(unit_q(6)));
  Probe probe;
  probe.set_state(2, 0.1, {-0.5, 9, 9, 9, 9, 9},
                  {S::at_lower, S::at_lower, S::at_lower, S::at_upper, S::at_upper, S::at_lower},
                  1, &q6);
  probe.b() = {0, 0.4, 0.6, 0, 0, 0.5};
  probe.upper_gradient() = {0, 0, 0, -0.7, -0.5, 0};
  probe.shrink();
  EXPECT_TRUE(probe.was_reactivated());
  // 0.4 and 0.5 <= Gm come back, and -0.5 >= -Gm at C; 0.6 > Gm stays out,
  // and so does -0.7 < -Gm at C.
  ASSERT_EQ(probe.active(), 4);
  std::vector<int> back(probe.map().begin() + 1, probe.map().begin() + 4);
  std::sort(back.begin(), back.end());
  EXPECT_EQ(back, (std::vector<int>{1, 4, 5}));
  std::vector<int> inactive(probe.map().begin() + 4, probe.map().end());
  std::sort(inactive.begin(), inactive.end());
  EXPECT_EQ(inactive, (std::vector<int>{2, 3}));

  // The pass runs once per run: a second call leaves inactive ones alone.
  probe.shrink();
  EXPECT_EQ(probe.active(), 4);
}

TEST(ShrinkTest, NoReactivationAboveTenEps) {
  Dense_Q q(2, testing_support::single(unit_q(2)));
  Probe probe;
  probe.set_state(2, 0.01, {-0.5, 9}, {S::at_lower, S::at_lower}, 1, &q);
  probe.b() = {0, -1};  // would come back if the pass ran
  probe.shrink();
  EXPECT_FALSE(probe.was_reactivated());
  EXPECT_EQ(probe.active(), 1);
}

// --- Loop schedule ----------------------------------------------------------

struct Period_case {
  int l;
  int qpsize;
  int period;
};

void PrintTo(const Period_case& c, std::ostream* os) {
  *os << "l" << c.l << "_qpsize" << c.qpsize;
}

class Period_test : public ::testing::TestWithParam<Period_case> {};

TEST_P(Period_test, IsTheSmallerOfTwoIntegerQuotients) {
  const Period_case& c = GetParam();
  Probe probe;
  std::vector<double> zeros(c.l, 0.0);
  probe.allocate_run(c.l, zeros.data(), 1e-3, 1, c.qpsize, true);
  probe.start_schedule();
  EXPECT_EQ(probe.schedule_period(), c.period);
  EXPECT_EQ(probe.schedule_counter(), c.period + 1);
}

INSTANTIATE_TEST_SUITE_P(Values, Period_test,
                         ::testing::Values(Period_case{100, 10, 20}, Period_case{5000, 10, 200},
                                           Period_case{7, 3, 4}, Period_case{4, 10, 0},
                                           Period_case{3000, 2001, 0}, Period_case{1, 2, 1}));

TEST(ScheduleTest, FailedFullCheckShrinksInTheNextPass) {
  // The active variable is optimal; the inactive one at 0 violates once its
  // gradient is rebuilt (b = -0.5). period = min(6 / 2, 2000 / 2) = 3.
  Dense_Q q(3, testing_support::single(unit_q(3)));
  Probe probe;
  probe.set_state(2, 1e-3, {0.5, 9, 9}, {S::at_lower, S::at_lower, S::at_lower}, 1, &q);
  probe.b() = {0.5, -0.5, -0.25};
  probe.start_schedule();
  int count = 0;
  ASSERT_TRUE(probe.next_working_set(&count));
  EXPECT_EQ(probe.output(), "*");
  // The hook runs after the re-selection over all variables.
  EXPECT_EQ(probe.hook_calls, 1);
  EXPECT_EQ(probe.hook_saw_active, 3);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(probe.hook_saw_set, (std::vector<int>{2, 1}));
  EXPECT_EQ(probe.schedule_counter(), 1);
  // The next pass reaches the shrinking step at once; as nothing moved in
  // between, its working-set comparison then ends the run.
  EXPECT_FALSE(probe.next_working_set(&count));
  EXPECT_EQ(probe.output(), "*.");
  EXPECT_EQ(probe.schedule_counter(), probe.schedule_period());
  EXPECT_EQ(probe.hook_calls, 1);
}

// Runs Solver_B on a dense Q and returns the progress output.
struct Solver_run {
  std::vector<double> alpha;
  Solve_result result{0, nullptr};
  std::string output;
  int column_requests = 0;
  int shortest_request = 0;
};

Solver_run run_solver(const std::vector<double>& q, std::vector<double> b,
               const std::vector<signed char>& signs, std::vector<double> alpha, double C_pos,
               double C_neg, double eps, int shrinking, int qpsize) {
  const int l = static_cast<int>(b.size());
  Dense_Q matrix(l, testing_support::single(q));
  Solver_run run;
  Test_run test_run;
  Solver_B solver(test_run.box_solver(), test_run.progress());
  solver.optimize(l, matrix, b.data(), signs.data(), alpha.data(), C_pos, C_neg, eps, &run.result,
                  shrinking, qpsize);
  run.alpha = alpha;
  run.output = test_run.text();
  run.column_requests = matrix.column_requests();
  run.shortest_request = matrix.shortest_request();
  return run;
}

struct Optimal_start_case {
  int l;
  int qpsize;
  const char* output;
};

void PrintTo(const Optimal_start_case& c, std::ostream* os) {
  *os << "l" << c.l << "_qpsize" << c.qpsize;
}

class Optimal_start_test : public ::testing::TestWithParam<Optimal_start_case> {};

// A start with no violation ends at the first full check after 0 iterations;
// with period 0 the first pass also runs the shrinking step and prints ".".
TEST_P(Optimal_start_test, EndsAfterZeroIterations) {
  const Optimal_start_case& c = GetParam();
  std::vector<signed char> signs(c.l, 1);
  std::mt19937 rng(5);
  const std::vector<double> q = testing_support::random_q(c.l, 3, signs, rng);
  const Solver_run run = run_solver(q, std::vector<double>(c.l, 1.0), signs, std::vector<double>(c.l, 0.0),
                             1, 1, 1e-3, 1, c.qpsize);
  EXPECT_EQ(run.output, c.output);
  EXPECT_EQ(run.result.objective, 0.0);
  // Every alpha at 0: the set-up fetches no column.
  EXPECT_EQ(run.column_requests, 0);
  std::free(run.result.bounds);
}

INSTANTIATE_TEST_SUITE_P(
    Periods, Optimal_start_test,
    ::testing::Values(Optimal_start_case{10, 10, "*\noptimization finished, #iter = 0\n"},
                      Optimal_start_case{4, 10, ".*\noptimization finished, #iter = 0\n"}));

TEST(SolverBTest, BoundsHoldBothCostsPositiveFirst) {
  std::vector<signed char> signs{1, -1, 1};
  std::mt19937 rng(3);
  const std::vector<double> q = testing_support::random_q(3, 2, signs, rng);
  Solver_run run = run_solver(q, {-1, -1, -1}, signs, {0, 0, 0}, 3.5, 0.25, 1e-3, 1, 2);
  ASSERT_NE(run.result.bounds, nullptr);
  EXPECT_EQ(run.result.bounds[0], 3.5);
  EXPECT_EQ(run.result.bounds[1], 0.25);
  std::free(run.result.bounds);
}

TEST(SolverBTest, StagnationEndsAtTheWorkingSetComparison) {
  // One variable violating by 0.01 whose step 0.01 / 1e13 is below 1e-12:
  // every solve is dropped and the selection repeats until the pass that
  // resets the counter compares it with the previous one.
  const Solver_run run = run_solver({1e13}, {-0.01}, {1}, {0.0}, 1, 1, 1e-3, 1, 2);
  EXPECT_EQ(run.alpha[0], 0.0);
  EXPECT_EQ(run.output, ".\noptimization finished, #iter = 1\n");
  std::free(run.result.bounds);
}

// --- Optimality on random problems -------------------------------------------

struct Random_case {
  const char* name;
  int l;
  int qpsize;
  int shrinking;
  bool regression;  // 2l variables over duplicated samples with opposite signs
  double C_pos;
  double C_neg;
  unsigned seed;
};

void PrintTo(const Random_case& c, std::ostream* os) {
  *os << c.name;
}

class Random_problem_test : public ::testing::TestWithParam<Random_case> {};

TEST_P(Random_problem_test, MatchesIndependentSolveAndStoppingRule) {
  const Random_case& c = GetParam();
  std::mt19937 rng(c.seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const int l = c.regression ? 2 * c.l : c.l;
  std::vector<signed char> signs(l);
  std::vector<double> b(l);
  std::vector<double> q;
  if (c.regression) {
    std::vector<signed char> base(c.l, 1);
    const std::vector<double> k = testing_support::random_q(c.l, 4, base, rng);
    q.assign(static_cast<size_t>(l) * l, 0.0);
    for (int i = 0; i < l; ++i) {
      signs[i] = i < c.l ? 1 : -1;
      for (int j = 0; j < l; ++j) {
        const int s = (i < c.l ? 1 : -1) * (j < c.l ? 1 : -1);
        q[static_cast<size_t>(i) * l + j] = s * k[(i % c.l) * c.l + (j % c.l)];
      }
    }
    for (int i = 0; i < c.l; ++i) {
      const double target = 3 * unit(rng);
      b[i] = 0.1 - target;
      b[c.l + i] = 0.1 + target;
    }
  } else {
    for (int i = 0; i < l; ++i) signs[i] = unit(rng) > 0 ? 1 : -1;
    q = testing_support::random_q(l, 3, signs, rng);
    std::fill(b.begin(), b.end(), -1.0);
  }
  std::vector<double> upper(l);
  for (int i = 0; i < l; ++i) upper[i] = signs[i] > 0 ? c.C_pos : c.C_neg;

  const double eps = 1e-5;
  Solver_run run = run_solver(q, b, signs, std::vector<double>(l, 0.0), c.C_pos, c.C_neg, eps,
                       c.shrinking, c.qpsize);
  const std::vector<double> reference = testing_support::reference_solve(q, b, upper);
  const double expected = testing_support::dual_objective(q, b, reference);
  const double achieved = testing_support::dual_objective(q, b, run.alpha);
  EXPECT_NEAR(achieved, expected, 1e-6 * std::fabs(expected));
  EXPECT_NEAR(run.result.objective, expected, 1e-6 * std::fabs(expected));

  // The stopping rule: no variable at a bound violates by eps or more (the
  // free ones of the first selection phase are not covered by the rule).
  const std::vector<double> g = testing_support::dual_gradient(q, b, run.alpha);
  for (int i = 0; i < l; ++i) {
    ASSERT_GE(run.alpha[i], 0.0);
    ASSERT_LE(run.alpha[i], upper[i]);
    if (run.alpha[i] <= 0) {
      EXPECT_GT(g[i], -eps - 1e-9) << i;
    }
    if (run.alpha[i] >= upper[i]) {
      EXPECT_LT(g[i], eps + 1e-9) << i;
    }
  }
  EXPECT_NE(run.output.find("\noptimization finished, #iter = "), std::string::npos);
  // Without shrinking every column is asked for in full.
  if (!c.shrinking) {
    EXPECT_EQ(run.shortest_request, l);
  }
  std::free(run.result.bounds);
}

INSTANTIATE_TEST_SUITE_P(
    Problems, Random_problem_test,
    ::testing::Values(Random_case{"Small", 6, 2, 1, false, 1, 1, 1},
                      Random_case{"ShrinkingOdd", 40, 3, 1, false, 2, 0.5, 2},
                      Random_case{"NoShrinking", 40, 4, 0, false, 2, 0.5, 2},
                      Random_case{"LargeCost", 60, 10, 1, false, 50, 50, 3},
                      Random_case{"LargeCostNoShrinking", 60, 10, 0, false, 50, 50, 3},
                      Random_case{"ManyPeriods", 80, 2, 1, false, 10, 1, 4},
                      Random_case{"SetLargerThanProblem", 5, 16, 1, false, 1, 3, 5},
                      Random_case{"Regression", 25, 10, 1, true, 2, 2, 6},
                      Random_case{"RegressionNoShrinking", 25, 6, 0, true, 2, 2, 7}),
    [](const ::testing::TestParamInfo<Random_case>& info) { return info.param.name; });

TEST(SolverBTest, WarmStartReturnsAlphaInCallersOrder) {
  // Start from a point with variables at both bounds and in between, so the
  // set-up uses columns and bound_gradient and shrinking permutes positions;
  // the returned alpha must still solve the caller's problem.
  const int l = 50;
  std::mt19937 rng(11);
  std::vector<signed char> signs(l);
  for (int i = 0; i < l; ++i) signs[i] = i % 3 == 0 ? -1 : 1;
  const std::vector<double> q = testing_support::random_q(l, 2, signs, rng);
  std::vector<double> b(l, -1.0);
  std::vector<double> start(l), upper(l);
  for (int i = 0; i < l; ++i) {
    upper[i] = signs[i] > 0 ? 4 : 2;
    start[i] = i % 4 == 0 ? upper[i] : i % 4 == 1 ? 0.5 * upper[i] : 0;
  }
  Solver_run run = run_solver(q, b, signs, start, 4, 2, 1e-5, 1, 4);
  const double expected =
      testing_support::dual_objective(q, b, testing_support::reference_solve(q, b, upper));
  EXPECT_NEAR(testing_support::dual_objective(q, b, run.alpha), expected,
              1e-6 * std::fabs(expected));
  std::free(run.result.bounds);
}

}  // namespace
}  // namespace tevra
