#include "learn/solver_b.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "learn/parallel.h"
#include "tests/learn/solver_test_support.h"

namespace tevra {
namespace {

using testing_support::Dense_Q;
using testing_support::Test_run;
using S = Bound_state;

// Identity-free Q so that swaps and rebuilds are cheap and exact.
std::vector<double> unit_q(int n) {
  std::vector<double> q(static_cast<size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) q[i * n + i] = 1;
  return q;
}

// Records what the solver's run looks like when the hook after a failed
// full check runs.
class Hook_recorder : public Solver_B {
 public:
  using Solver_B::Solver_B;
  int hook_calls = 0;
  int hook_saw_active = -1;
  std::vector<int> hook_saw_set;

 protected:
  void after_failed_full_check() override {
    ++hook_calls;
    hook_saw_active = run().active_count;
    hook_saw_set = run().working_set;
  }
};

// A solver over an n x n Q matrix with C_pos = C_neg = 1 and shrinking on,
// put into a hand-made state: gradient g and the given bound states (alpha 1
// at the upper bound, 0.5 when free, 0 at the lower), the first `active`
// positions active, linear term b (0 unless a test sets it) and
// bound_gradient 0 unless given.
struct Hand_made {
  Hand_made(int working_set_size, double tolerance, const std::vector<double>& g,
            const std::vector<S>& states, int active, std::vector<double> bound_gradient = {})
      : q(static_cast<int>(g.size()), testing_support::single(unit_q(static_cast<int>(g.size())))),
        b(g.size(), 0.0),
        signs(g.size(), 1) {
    const int l = static_cast<int>(g.size());
    std::vector<double> alpha(l);
    for (int p = 0; p < l; ++p) alpha[p] = states[p] == S::at_upper ? 1 : states[p] == S::free ? 0.5 : 0;
    solver.set_up(l, q, b.data(), signs.data(), alpha.data(), 1, 1, tolerance, 1,
                  working_set_size);
    Solver_B::Run state = solver.run();
    state.gradient = g;
    state.active_count = active;
    if (bound_gradient.empty()) bound_gradient.assign(l, 0.0);
    state.bound_gradient = bound_gradient;
    solver.replace_run(std::move(state));
  }

  const Solver_B::Run& run() const { return solver.run(); }

  // The linear term, in place: the run points at b.
  void set_b(const std::vector<double>& values) { std::copy(values.begin(), values.end(), b.begin()); }

  Dense_Q q;
  std::vector<double> b;
  std::vector<signed char> signs;
  Test_run test_run;
  Hook_recorder solver{test_run.box_solver(), test_run.progress()};
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
  Working_set_selection selection_lists(c.qpsize);
  std::vector<int> working_set(c.qpsize, 99);
  const Selection selection =
      selection_lists.choose(c.gradient.data(), c.states.data(),
                             static_cast<int>(c.gradient.size()), working_set.data());
  ASSERT_EQ(selection.count, static_cast<int>(c.expected_set.size()));
  for (int k = 0; k < selection.count; ++k) EXPECT_EQ(working_set[k], c.expected_set[k]) << k;
  // Entries past count keep what was there before.
  for (int k = selection.count; k < c.qpsize; ++k) EXPECT_EQ(working_set[k], 99);
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

// The solver selects over its active positions only.
TEST(SelectionTest, InactivePositionsAreIgnored) {
  Hand_made made(4, 1e-3, {-0.1, -0.2, -9, 0.5}, {S::at_lower, S::at_lower, S::at_lower, S::free},
                 2);
  const Selection selection = made.solver.choose_working_set();
  ASSERT_EQ(selection.count, 2);
  EXPECT_EQ(made.run().working_set[0], 0);
  EXPECT_EQ(made.run().working_set[1], 1);
  EXPECT_EQ(selection.Gmax, 0.2);
}

// Split between threads, each stretch keeps lists of its own and the merge
// must choose exactly what one pass chooses: the same positions in the same
// order, ties (few distinct values), NaN and infinities included, whether a
// stretch holds many candidates or none.
TEST(SelectionTest, SplitPassesChooseWhatOnePassChooses) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double values[] = {0, 0.5, -0.5, 1, -1, 2, -2, inf, -inf, nan};
  std::mt19937 engine(17);
  for (int qpsize : {2, 3, 4, 10, 17}) {
    for (int n : {1, 5, 40, 1000}) {
      for (int round = 0; round < 5; ++round) {
        std::vector<double> gradient(n);
        std::vector<S> states(n);
        for (int p = 0; p < n; ++p) {
          gradient[p] = values[engine() % (round == 0 ? 3 : 10)];
          states[p] = static_cast<S>(engine() % 3);
        }
        auto choose = [&](int threads, std::vector<int>* working_set) {
          Split_every_loop split(threads);
          Working_set_selection lists(qpsize);
          working_set->assign(qpsize, -7);
          return lists.choose(gradient.data(), states.data(), n, working_set->data());
        };
        std::vector<int> one_pass;
        const Selection expected = choose(1, &one_pass);
        for (int threads : {2, 3, 7}) {
          std::vector<int> split_pass;
          const Selection got = choose(threads, &split_pass);
          EXPECT_EQ(got.count, expected.count);
          EXPECT_EQ(std::memcmp(&got.Gmax, &expected.Gmax, sizeof(double)), 0);
          EXPECT_EQ(split_pass, one_pass)
              << "qpsize " << qpsize << ", " << n << " positions, " << threads << " threads";
        }
      }
    }
  }
}

TEST(SelectionTest, NoActiveVariableGivesEmptySelection) {
  Hand_made made(4, 1e-3, {-1, -1}, {S::at_lower, S::at_lower}, 0);
  const Selection selection = made.solver.choose_working_set();
  EXPECT_EQ(selection.count, 0);
  EXPECT_EQ(selection.Gmax, 0.0);
  (void)inf;
}

// --- Shrinking -------------------------------------------------------------

TEST(ShrinkTest, DeactivatesOnlyVariablesBeyondTheLargestViolation) {
  // Gm = 0.5 (position 0); eps small enough that no reactivation follows.
  Hand_made made(2, 0.01, {-0.5, 0.6, 0.5, -0.6, -0.5},
                 {S::at_lower, S::at_lower, S::at_lower, S::at_upper, S::at_upper}, 5);
  made.solver.shrink();
  const Solver_B::Run& run = made.run();
  EXPECT_EQ(run.active_count, 3);
  // Positions 1 (G 0.6 at 0) and 3 (G -0.6 at C) left; the rest stay.
  std::vector<int> active(run.position_map.begin(), run.position_map.begin() + run.active_count);
  std::sort(active.begin(), active.end());
  EXPECT_EQ(active, (std::vector<int>{0, 2, 4}));
  EXPECT_FALSE(run.reactivated);
}

TEST(ShrinkTest, FreeVariablesStayActive) {
  Hand_made made(2, 0.01, {-0.5, 5, 0.0}, {S::at_lower, S::free, S::free}, 3);
  made.solver.shrink();
  EXPECT_EQ(made.run().active_count, 3);
}

TEST(ShrinkTest, NothingHappensBelowEps) {
  Hand_made made(2, 0.1, {-0.05, 3}, {S::at_lower, S::at_lower}, 2);
  made.solver.shrink();
  EXPECT_EQ(made.run().active_count, 2);
  EXPECT_FALSE(made.run().reactivated);
}

TEST(ShrinkTest, ReactivatesOnceWithRebuiltGradients) {
  // eps 0.1, Gm 0.5 <= 10 eps: inactive variables are judged with rebuilt
  // gradients (b + bound_gradient here, as no free variable is active).
  Hand_made made(2, 0.1, {-0.5, 9, 9, 9, 9, 9},
                 {S::at_lower, S::at_lower, S::at_lower, S::at_upper, S::at_upper, S::at_lower},
                 1, {0, 0, 0, -0.7, -0.5, 0});
  made.set_b({0, 0.4, 0.6, 0, 0, 0.5});
  made.solver.shrink();
  const Solver_B::Run& run = made.run();
  EXPECT_TRUE(run.reactivated);
  // 0.4 and 0.5 <= Gm come back, and -0.5 >= -Gm at C; 0.6 > Gm stays out,
  // and so does -0.7 < -Gm at C.
  ASSERT_EQ(run.active_count, 4);
  std::vector<int> back(run.position_map.begin() + 1, run.position_map.begin() + 4);
  std::sort(back.begin(), back.end());
  EXPECT_EQ(back, (std::vector<int>{1, 4, 5}));
  std::vector<int> inactive(run.position_map.begin() + 4, run.position_map.end());
  std::sort(inactive.begin(), inactive.end());
  EXPECT_EQ(inactive, (std::vector<int>{2, 3}));

  // The pass runs once per run: a second call leaves inactive ones alone.
  made.solver.shrink();
  EXPECT_EQ(run.active_count, 4);
}

TEST(ShrinkTest, NoReactivationAboveTenEps) {
  Hand_made made(2, 0.01, {-0.5, 9}, {S::at_lower, S::at_lower}, 1);
  made.set_b({0, -1});  // would come back if the pass ran
  made.solver.shrink();
  EXPECT_FALSE(made.run().reactivated);
  EXPECT_EQ(made.run().active_count, 1);
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
  // Every alpha at 0: the set-up never asks the (empty) Q matrix for a column.
  Dense_Q none(0, {});
  std::vector<double> zeros(c.l, 0.0);
  std::vector<signed char> signs(c.l, 1);
  Test_run test_run;
  Solver_B solver(test_run.box_solver(), test_run.progress());
  solver.set_up(c.l, none, zeros.data(), signs.data(), zeros.data(), 1, 1, 1e-3, 1, c.qpsize);
  EXPECT_EQ(solver.run().period, c.period);
  EXPECT_EQ(solver.run().counter, c.period + 1);
}

INSTANTIATE_TEST_SUITE_P(Values, Period_test,
                         ::testing::Values(Period_case{100, 10, 20}, Period_case{5000, 10, 200},
                                           Period_case{7, 3, 4}, Period_case{4, 10, 0},
                                           Period_case{3000, 2001, 0}, Period_case{1, 2, 1}));

TEST(ScheduleTest, FailedFullCheckShrinksInTheNextPass) {
  // The active variable is optimal; the inactive one at 0 violates once its
  // gradient is rebuilt (b = -0.5). period = min(6 / 2, 2000 / 2) = 3.
  Hand_made made(2, 1e-3, {0.5, 9, 9}, {S::at_lower, S::at_lower, S::at_lower}, 1);
  made.set_b({0.5, -0.5, -0.25});
  Hook_recorder& solver = made.solver;
  int count = 0;
  ASSERT_TRUE(solver.next_working_set(&count));
  EXPECT_EQ(made.test_run.text(), "*");
  // The hook runs after the re-selection over all variables.
  EXPECT_EQ(solver.hook_calls, 1);
  EXPECT_EQ(solver.hook_saw_active, 3);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(solver.hook_saw_set, (std::vector<int>{2, 1}));
  EXPECT_EQ(made.run().counter, 1);
  // The next pass reaches the shrinking step at once; as nothing moved in
  // between, its working-set comparison then ends the run.
  EXPECT_FALSE(solver.next_working_set(&count));
  EXPECT_EQ(made.test_run.text(), "*.");
  EXPECT_EQ(made.run().counter, made.run().period);
  EXPECT_EQ(solver.hook_calls, 1);
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
