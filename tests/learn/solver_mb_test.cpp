// Solver_MB: block layout, moves between active and inactive ranges, the
// class-coupled gradient updates and the solutions it reaches.
#include "learn/solver_mb.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/q_matrices.h"
#include "multiclass_dual_reference.h"
#include "tests/learn/test_run.h"

namespace tevra {
namespace {

using testing_support::Test_run;

// A run of the test's own keeps the solver's progress marks out of the test
// output.
class Quiet : public ::testing::Test {
 protected:
  Test_run test_run;
};

// The position where variable v now stands.
int position_of(const Solver_MB& s, int v) {
  for (int p = 0; p < s.run().var_count; ++p) {
    if (s.run().position_map[p] == v) return p;
  }
  return -1;
}
// Deactivation and reactivation of variable v, as the shrinking step does them.
void shrink_out(Solver_MB& s, int v) { s.deactivate_at(position_of(s, v)); }
void bring_back(Solver_MB& s, int v) { s.reactivate_at(position_of(s, v)); }

std::vector<int> own_classes(const std::vector<reference::Variable>& variables) {
  std::vector<int> own;
  for (const auto& v : variables) own.push_back(v.own);
  return own;
}

// A problem small enough to reason about, with a solver set up on it at the
// zero start.
struct Layout_fixture {
  std::vector<int> sizes;
  reference::Sample_set set;
  std::vector<reference::Variable> variables;
  std::vector<int> own;
  std::vector<double> class_C;
  std::vector<double> zeros;
  Parameter param;
  BONE_CLASS_Q q;
  Test_run test_run;
  Solver_MB solver{test_run.box_solver(), test_run.progress()};

  explicit Layout_fixture(std::vector<int> class_sizes, int qpsize = 4)
      : sizes(class_sizes),
        set(reference::clustered_samples(sizes, 2, 7)),
        variables(reference::block_variables(sizes)),
        own(own_classes(variables)),
        class_C(sizes.size(), 1.0),
        zeros(variables.size(), 0.0),
        param(make_param(qpsize)),
        q(set.problem, param) {
    solver.set_up(static_cast<int>(variables.size()), q, -2.0, zeros.data(), own.data(),
                  class_C.data(), 0.002, 1, qpsize, static_cast<int>(sizes.size()), sizes.data());
  }

  static Parameter make_param(int qpsize) {
    Parameter p = default_parameter();
    p.kernel_type = linear;
    p.qpsize = qpsize;
    return p;
  }

  int n() const { return static_cast<int>(sizes.size()); }
};

// Checks that positions and block ranges agree, and that every variable still
// carries its own attributes wherever it now stands.
void expect_layout_holds(const Layout_fixture& f) {
  const Solver_MB& s = f.solver;
  const int n = f.n();
  const int l = s.run().var_count;
  const int last = n * n;
  ASSERT_EQ(s.blocks().block_start[0], 0);
  ASSERT_EQ(s.blocks().block_start[last], s.run().active_count);
  ASSERT_EQ(s.blocks().inactive_start[0], s.run().active_count);
  ASSERT_EQ(s.blocks().inactive_start[last], l);
  for (int beta = 0; beta < last; ++beta) {
    ASSERT_LE(s.blocks().block_start[beta], s.blocks().block_start[beta + 1]) << "block " << beta;
    ASSERT_LE(s.blocks().inactive_start[beta], s.blocks().inactive_start[beta + 1]) << "block " << beta;
    for (int p = s.blocks().block_start[beta]; p < s.blocks().block_start[beta + 1]; ++p) {
      ASSERT_EQ(s.block_of(p), beta) << "active position " << p;
    }
    for (int p = s.blocks().inactive_start[beta]; p < s.blocks().inactive_start[beta + 1]; ++p) {
      ASSERT_EQ(s.block_of(p), beta) << "inactive position " << p;
    }
  }
  std::vector<int> seen(l, 0);
  for (int p = 0; p < l; ++p) {
    const int v = s.run().position_map[p];
    ASSERT_GE(v, 0);
    ASSERT_LT(v, l);
    ++seen[v];
    EXPECT_EQ(s.blocks().own_class[p], f.variables[v].own) << "position " << p;
    EXPECT_EQ(s.blocks().other_class[p], f.variables[v].other) << "position " << p;
    EXPECT_EQ(s.blocks().sample_of[p], f.variables[v].sample) << "position " << p;
  }
  for (int v = 0; v < l; ++v) EXPECT_EQ(seen[v], 1) << "variable " << v;
}

TEST(SolverMbLayout, ThreeClassesOfSizesTwoOneOne) {
  Layout_fixture f({2, 1, 1});
  const Solver_MB& s = f.solver;
  // (sample, competing class): (2,0) (3,0) (0,1) (1,1) (3,1) (0,2) (1,2) (2,2)
  EXPECT_EQ(f.own, (std::vector<int>{1, 2, 0, 0, 2, 0, 0, 1}));
  EXPECT_EQ(s.blocks().own_class, f.own);
  EXPECT_EQ(s.blocks().sample_of, (std::vector<int>{2, 3, 0, 1, 3, 0, 1, 2}));
  EXPECT_EQ(s.blocks().other_class, (std::vector<int>{0, 0, 1, 1, 1, 2, 2, 2}));
  EXPECT_EQ(s.blocks().block_start, (std::vector<int>{0, 0, 1, 2, 4, 4, 5, 7, 8, 8}));
  EXPECT_EQ(s.blocks().inactive_start, std::vector<int>(10, 8));
  EXPECT_EQ(s.run().active_count, 8);
  expect_layout_holds(f);
}

TEST(SolverMbLayout, DeactivateThenReactivateRestoresRangesWithVariableAtBlockEnd) {
  Layout_fixture f({2, 1, 1});
  Solver_MB& s = f.solver;
  const std::vector<int> before = s.blocks().block_start;
  // Variable 0 is sample 2 against class 0: block beta(1, 0) = 1.
  shrink_out(s, 0);
  EXPECT_EQ(s.run().active_count, 7);
  EXPECT_EQ(s.blocks().block_start[9], 7);
  EXPECT_EQ(s.blocks().inactive_start[0], 7);
  EXPECT_EQ(s.blocks().inactive_start[1], 7);  // first of block 1's inactive range
  EXPECT_EQ(position_of(s, 0), 7);
  expect_layout_holds(f);

  bring_back(s, 0);
  EXPECT_EQ(s.blocks().block_start, before);
  EXPECT_EQ(s.blocks().inactive_start, std::vector<int>(10, 8));
  EXPECT_EQ(position_of(s, 0), s.blocks().block_start[2] - 1);
  expect_layout_holds(f);
}

struct Shrink_case {
  const char* name;
  std::vector<int> sizes;
  std::vector<int> out;   // variables deactivated, in order
  std::vector<int> back;  // variables then reactivated, in order
};
void PrintTo(const Shrink_case& c, std::ostream* out) { *out << c.name; }

class SolverMbShrinkMoves : public ::testing::TestWithParam<Shrink_case> {};

TEST_P(SolverMbShrinkMoves, KeepEveryBlockRange) {
  const Shrink_case& c = GetParam();
  Layout_fixture f(c.sizes);
  Solver_MB& s = f.solver;
  const std::vector<int> initial = s.blocks().block_start;
  for (int v : c.out) {
    shrink_out(s, v);
    expect_layout_holds(f);
    if (HasFatalFailure()) return;
  }
  for (int v : c.back) {
    bring_back(s, v);
    expect_layout_holds(f);
    if (HasFatalFailure()) return;
    const int p = position_of(s, v);
    EXPECT_EQ(p, s.blocks().block_start[s.block_of(p) + 1] - 1) << "variable " << v;
  }
  if (c.out.size() == c.back.size()) {
    EXPECT_EQ(s.blocks().block_start, initial);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SolverMbShrinkMoves,
    ::testing::Values(
        // 2 classes, l = 5: only blocks 1 = beta(1,0) and 2 = beta(0,1) hold variables.
        Shrink_case{"two_classes", {2, 3}, {0, 4, 2, 3}, {2, 0, 4, 3}},
        // Every variable out of the first and last block, back in reverse.
        Shrink_case{"first_and_last_blocks", {2, 1, 1}, {0, 7, 6, 1}, {1, 6, 7, 0}},
        // Everything out, then everything back: the layout must survive empty
        // active ranges.
        Shrink_case{
            "all_out_all_back", {2, 1, 1}, {3, 0, 5, 7, 1, 2, 6, 4}, {4, 0, 7, 2, 1, 6, 3, 5}},
        // Four classes with an empty-looking spread of blocks, partly back.
        Shrink_case{"four_classes_partial", {2, 1, 3, 1}, {0, 20, 9, 13, 5, 19, 1}, {13, 0, 19}}),
    [](const ::testing::TestParamInfo<Shrink_case>& info) { return std::string(info.param.name); });

TEST(SolverMbLayout, FailedFullCheckReturnsToCanonicalOrderCarryingTheWorkingSets) {
  Layout_fixture f({2, 1, 3, 1}, 6);
  Solver_MB& s = f.solver;
  const int l = s.run().var_count;
  for (int v : {0, 20, 9, 13, 5, 19, 1}) shrink_out(s, v);
  // Mark every position with the variable standing there.
  Solver_B::Run state = s.run();
  for (int p = 0; p < l; ++p) {
    const int v = state.position_map[p];
    state.alpha[p] = 100 + v;
    state.gradient[p] = 200 + v;
    state.bound_gradient[p] = 300 + v;
    state.bound_state[p] = static_cast<Bound_state>(v % 3);
  }
  const std::vector<int> chosen_positions = {3, 17, 0, 20, 11, 8};
  std::vector<int> chosen_variables;
  for (int k = 0; k < 6; ++k) {
    state.working_set[k] = chosen_positions[k];
    chosen_variables.push_back(state.position_map[chosen_positions[k]]);
  }
  const std::vector<int> previous_positions = {20, 4, -1, -1, -1, -1};
  state.previous_working_set = previous_positions;
  const std::vector<int> previous_variables = {state.position_map[20], state.position_map[4]};

  state.active_count = l;  // as the full check leaves it
  s.replace_run(std::move(state));
  s.restore_canonical_order();

  EXPECT_EQ(s.run().working_set, chosen_variables);
  EXPECT_EQ(s.run().previous_working_set,
            (std::vector<int>{previous_variables[0], previous_variables[1], -1, -1, -1, -1}));
  std::vector<int> identity(l);
  std::iota(identity.begin(), identity.end(), 0);
  EXPECT_EQ(s.run().position_map, identity);
  for (int p = 0; p < l; ++p) {
    EXPECT_EQ(s.run().alpha[p], 100 + p);
    EXPECT_EQ(s.run().gradient[p], 200 + p);
    EXPECT_EQ(s.run().bound_gradient[p], 300 + p);
    EXPECT_EQ(s.run().bound_state[p], static_cast<Bound_state>(p % 3));
  }
  expect_layout_holds(f);
  EXPECT_EQ(s.blocks().inactive_start, std::vector<int>(17, l));
}

// A change of one variable must reach every other variable p exactly as the
// Q matrix's entry says: coefficient(v, p) * delta * (K(s_v, s_p) + 1).
struct Spread_case {
  const char* name;
  std::vector<int> sizes;
  std::vector<int> out;  // deactivated first, to split the ranges
};
void PrintTo(const Spread_case& c, std::ostream* out) { *out << c.name; }

class SolverMbSpread : public ::testing::TestWithParam<Spread_case> {};

TEST_P(SolverMbSpread, FollowsTheClassCoefficientsOfQ) {
  const Spread_case& c = GetParam();
  Layout_fixture f(c.sizes);
  Solver_MB& s = f.solver;
  for (int v : c.out) shrink_out(s, v);
  const int l = s.run().var_count;
  // A column over the samples with distinct entries.
  std::vector<float> col(f.set.problem.sample_count);
  for (size_t t = 0; t < col.size(); ++t) col[t] = 1.5f + 0.25f * static_cast<float>(t);
  const double delta = 0.375;
  for (int p0 = 0; p0 < l; ++p0) {
    const reference::Variable& changed = f.variables[s.run().position_map[p0]];
    for (auto ranges : {Solver_MB::Ranges::active, Solver_MB::Ranges::inactive, Solver_MB::Ranges::both}) {
      std::vector<double> target(l, 0.0);
      s.spread(s.blocks().own_class[p0], s.blocks().other_class[p0], delta, col.data(), target.data(), ranges);
      for (int p = 0; p < l; ++p) {
        const bool active = p < s.run().active_count;
        const bool reached =
            ranges == Solver_MB::Ranges::both || (active == (ranges == Solver_MB::Ranges::active));
        const reference::Variable& other = f.variables[s.run().position_map[p]];
        const double expected =
            reached ? reference::class_coefficient(changed, other) * delta * col[other.sample]
                    : 0.0;
        ASSERT_EQ(target[p], expected) << "change at " << p0 << ", entry " << p;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SolverMbSpread,
                         ::testing::Values(
                             // Two classes: only the own block (+2) and the exchanged one (-2).
                             Spread_case{"two_classes", {2, 3}, {}},
                             Spread_case{"two_classes_shrunk", {2, 3}, {0, 3}},
                             // Four classes reach every kind of t-block.
                             Spread_case{"four_classes", {2, 1, 2, 1}, {}},
                             Spread_case{"four_classes_shrunk", {2, 1, 2, 1}, {0, 17, 5, 9, 12}}),
                         [](const ::testing::TestParamInfo<Spread_case>& info) {
                           return std::string(info.param.name);
                         });

// One sample per class: two variables, Q = [[2(K11+1), -2(K01+1)],
// [-2(K01+1), 2(K00+1)]], small enough to solve by hand.
struct Closed_form_case {
  const char* name;
  double x0, x1;      // one feature each, on features 1 and 2 (K01 = 0)
  double C0, C1;      // class costs
  double alpha_own1;  // variable (sample 1, against class 0)
  double alpha_own0;  // variable (sample 0, against class 1)
  double objective;   // 1/4 sum (b + G) alpha
};
void PrintTo(const Closed_form_case& c, std::ostream* out) { *out << c.name; }

class SolverMbClosedForm : public Quiet, public ::testing::WithParamInterface<Closed_form_case> {};

TEST_P(SolverMbClosedForm, MatchesTheHandSolution) {
  const Closed_form_case& c = GetParam();
  reference::Sample_set set({{c.x0, 0}, {0, c.x1}}, {0, 1});
  Parameter param = default_parameter();
  param.kernel_type = linear;
  BONE_CLASS_Q q(set.problem, param);
  std::vector<int> sizes = {1, 1};
  std::vector<double> class_C = {c.C0, c.C1};
  std::vector<int> own = {1, 0};
  std::vector<double> alpha = {0, 0};
  Solve_result result{0, nullptr};
  Solver_MB solver(test_run.box_solver(), test_run.progress());
  solver.optimize(2, q, -2.0, alpha.data(), own.data(), class_C.data(), 1e-9, &result, 1, 10, 2,
                  sizes.data());
  EXPECT_NEAR(alpha[0], c.alpha_own1, 1e-9);
  EXPECT_NEAR(alpha[1], c.alpha_own0, 1e-9);
  EXPECT_NEAR(result.objective, c.objective, 1e-9);
  ASSERT_NE(result.bounds, nullptr);
  EXPECT_EQ(result.bounds[0], c.C0);
  EXPECT_EQ(result.bounds[1], c.C1);
  std::free(result.bounds);
}

INSTANTIATE_TEST_SUITE_P(Cases, SolverMbClosedForm,
                         ::testing::Values(
                             // Q = [[4, -2], [-2, 4]]: Q a = 2 at a = (1, 1); G = 0.
                             Closed_form_case{"interior", 1, 1, 10, 10, 1, 1, -1},
                             // Both held at 0.5 with G = -1.
                             Closed_form_case{"both_at_bound", 1, 1, 0.5, 0.5, 0.5, 0.5, -0.75},
                             // Class 0's variable held at 0.5; the other settles at 0.75.
                             Closed_form_case{"one_at_bound", 1, 1, 0.5, 3, 0.75, 0.5, -0.8125},
                             // The diagonal is 2 (K + 1): K00 = 4 gives Q = [[2, -2], [-2, 10]].
                             Closed_form_case{"diagonal_from_kernel", 2, 0, 10, 10, 1.5, 0.5, -1}),
                         [](const ::testing::TestParamInfo<Closed_form_case>& info) {
                           return std::string(info.param.name);
                         });

// Larger problems against the reference solve.
struct Solve_case {
  const char* name;
  std::vector<int> sizes;
  int kernel_type;
  std::vector<double> class_C;
  int shrinking;
  int qpsize;
  double eps;
  unsigned seed = 11;  // of the clustered samples
  bool reorders = false;  // a failed full check must find variables out of order
};
void PrintTo(const Solve_case& c, std::ostream* out) { *out << c.name; }

// Counts the failed full checks that found the variables out of the
// canonical order (so that putting them back had something to do), and
// checks that they are in order afterwards.
class Reorder_counting_solver : public Solver_MB {
 public:
  using Solver_MB::Solver_MB;
  int reorders = 0;

 protected:
  void after_failed_full_check() override {
    const std::vector<int>& map = run().position_map;
    if (!std::is_sorted(map.begin(), map.end())) ++reorders;
    Solver_MB::after_failed_full_check();
    EXPECT_TRUE(std::is_sorted(run().position_map.begin(), run().position_map.end()));
  }
};

class SolverMbSolve : public Quiet, public ::testing::WithParamInterface<Solve_case> {};

TEST_P(SolverMbSolve, ReachesTheOptimumOfTheDual) {
  const Solve_case& c = GetParam();
  const int n = static_cast<int>(c.sizes.size());
  reference::Sample_set set = reference::clustered_samples(c.sizes, 3, c.seed);
  Parameter param = default_parameter();
  param.kernel_type = c.kernel_type;
  param.gamma = 0.5;
  param.qpsize = c.qpsize;
  BONE_CLASS_Q q(set.problem, param);
  const auto variables = reference::block_variables(c.sizes);
  const int l = static_cast<int>(variables.size());
  std::vector<int> own = own_classes(variables);
  std::vector<double> alpha(l, 0.0);
  const double eps = c.eps;
  Solve_result result{0, nullptr};
  Reorder_counting_solver solver(test_run.box_solver(), test_run.progress());
  solver.optimize(l, q, -2.0, alpha.data(), own.data(), c.class_C.data(), eps, &result, c.shrinking,
                  c.qpsize, n, c.sizes.data());
  if (c.reorders) {
    EXPECT_GT(solver.reorders, 0);
  }

  const auto Q = reference::dual_matrix(set, variables, c.kernel_type, param.gamma);
  std::vector<double> upper;
  for (const auto& v : variables) upper.push_back(c.class_C[v.own]);
  const std::vector<double> best = reference::solve(Q, -2.0, upper, alpha);
  const double best_f = reference::objective(Q, best, -2.0);
  const double f = reference::objective(Q, alpha, -2.0);

  // The reported objective is a quarter of sum (b + G) alpha: half of f.
  EXPECT_NEAR(result.objective, f / 2, 1e-9 * std::fabs(f) + 1e-9);
  EXPECT_NEAR(f, best_f, 1e-6 * std::fabs(best_f));
  // No variable at a bound violates its condition by eps or more.
  const std::vector<double> G = reference::gradient(Q, alpha, -2.0);
  int at_bound = 0;
  for (int i = 0; i < l; ++i) {
    ASSERT_GE(alpha[i], 0.0);
    ASSERT_LE(alpha[i], upper[i]);
    if (alpha[i] <= 0) {
      EXPECT_GT(G[i], -eps) << "variable " << i;
      ++at_bound;
    } else if (alpha[i] >= upper[i]) {
      EXPECT_LT(G[i], eps) << "variable " << i;
      ++at_bound;
    }
  }
  EXPECT_GT(at_bound, 0);
  ASSERT_NE(result.bounds, nullptr);
  for (int y = 0; y < n; ++y) EXPECT_EQ(result.bounds[y], c.class_C[y]);
  std::free(result.bounds);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SolverMbSolve,
    ::testing::Values(
        Solve_case{"two_classes_rbf", {9, 7}, rbf, {1, 1}, 1, 10, 1e-5},
        Solve_case{"three_classes_linear", {8, 6, 7}, linear, {0.5, 0.5, 0.5}, 1, 10, 1e-5},
        Solve_case{"three_classes_rbf_weighted", {8, 6, 7}, rbf, {2, 0.3, 1}, 1, 4, 1e-5},
        Solve_case{"four_classes_no_shrinking", {5, 7, 4, 6}, rbf, {1, 1, 1, 1}, 0, 10, 1e-5},
        Solve_case{"four_classes_pairs", {5, 7, 4, 6}, linear, {0.2, 1, 5, 1}, 1, 2, 1e-5},
        Solve_case{
            "five_classes_large_cost", {12, 10, 9, 11, 8}, rbf, {50, 50, 50, 50, 50}, 1, 6, 1e-5},
        // Long enough for shrinking, the one-time reactivation and a full
        // check that fails with variables shrunk, so the variables return to
        // the canonical order in mid-run.
        Solve_case{"six_classes_back_to_canonical_order",
                   {8, 10, 12, 9, 11, 8},
                   rbf,
                   {1000, 1000, 1000, 1000, 1000, 1000},
                   1,
                   4,
                   0.002,
                   2,
                   true}),
    [](const ::testing::TestParamInfo<Solve_case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tevra
