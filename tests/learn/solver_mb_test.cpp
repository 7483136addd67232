// Solver_MB: block layout, moves between active and inactive ranges, the
// class-coupled gradient updates and the solutions it reaches.
#include "learn/solver_mb.h"

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
using testing_support::With_test_run;

// A run of the test's own keeps the solver's progress marks out of the test
// output.
class Quiet : public ::testing::Test {
 protected:
  Test_run test_run;
};

// Opens the solver's internals to the tests.
class Probe : private With_test_run, public Solver_MB {
 public:
  Probe() : Solver_MB(test_run.box_solver(), test_run.progress()) {}

  using Solver_MB::active_count;
  using Solver_MB::after_failed_full_check;
  using Solver_MB::alpha;
  using Solver_MB::block_of;
  using Solver_MB::block_start;
  using Solver_MB::bound_gradient;
  using Solver_MB::bound_state;
  using Solver_MB::deactivate;
  using Solver_MB::gradient;
  using Solver_MB::inactive_start;
  using Solver_MB::other_class;
  using Solver_MB::own_class;
  using Solver_MB::position_map;
  using Solver_MB::previous_working_set;
  using Solver_MB::qpsize;
  using Solver_MB::Ranges;
  using Solver_MB::reactivate;
  using Solver_MB::sample_of;
  using Solver_MB::set_up;
  using Solver_MB::spread;
  using Solver_MB::var_count;
  using Solver_MB::working_set;

  int position_of(int variable) const {
    for (int p = 0; p < var_count; ++p) {
      if (position_map[p] == variable) return p;
    }
    return -1;
  }
  // Deactivation and reactivation as the shrinking step calls them.
  void shrink_out(int variable) {
    const int p = position_of(variable);
    --active_count;
    deactivate(p);
  }
  void bring_back(int variable) {
    reactivate(position_of(variable));
    ++active_count;
  }
};

std::vector<short> own_classes(const std::vector<reference::Variable>& variables) {
  std::vector<short> own;
  for (const auto& v : variables) own.push_back(static_cast<short>(v.own));
  return own;
}

// A problem small enough to reason about, with a solver set up on it at the
// zero start.
struct Layout_fixture {
  std::vector<int> sizes;
  reference::Sample_set set;
  std::vector<reference::Variable> variables;
  std::vector<short> own;
  std::vector<double> class_C;
  std::vector<double> zeros;
  Parameter param;
  BONE_CLASS_Q q;
  Probe solver;

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
  const Probe& s = f.solver;
  const int n = f.n();
  const int l = s.var_count;
  const int last = n * n;
  ASSERT_EQ(s.block_start[0], 0);
  ASSERT_EQ(s.block_start[last], s.active_count);
  ASSERT_EQ(s.inactive_start[0], s.active_count);
  ASSERT_EQ(s.inactive_start[last], l);
  for (int beta = 0; beta < last; ++beta) {
    ASSERT_LE(s.block_start[beta], s.block_start[beta + 1]) << "block " << beta;
    ASSERT_LE(s.inactive_start[beta], s.inactive_start[beta + 1]) << "block " << beta;
    for (int p = s.block_start[beta]; p < s.block_start[beta + 1]; ++p) {
      ASSERT_EQ(s.block_of(p), beta) << "active position " << p;
    }
    for (int p = s.inactive_start[beta]; p < s.inactive_start[beta + 1]; ++p) {
      ASSERT_EQ(s.block_of(p), beta) << "inactive position " << p;
    }
  }
  std::vector<int> seen(l, 0);
  for (int p = 0; p < l; ++p) {
    const int v = s.position_map[p];
    ASSERT_GE(v, 0);
    ASSERT_LT(v, l);
    ++seen[v];
    EXPECT_EQ(s.own_class[p], f.variables[v].own) << "position " << p;
    EXPECT_EQ(s.other_class[p], f.variables[v].other) << "position " << p;
    EXPECT_EQ(s.sample_of[p], f.variables[v].sample) << "position " << p;
  }
  for (int v = 0; v < l; ++v) EXPECT_EQ(seen[v], 1) << "variable " << v;
}

TEST(SolverMbLayout, ThreeClassesOfSizesTwoOneOne) {
  Layout_fixture f({2, 1, 1});
  const Probe& s = f.solver;
  // (sample, competing class): (2,0) (3,0) (0,1) (1,1) (3,1) (0,2) (1,2) (2,2)
  EXPECT_EQ(f.own, (std::vector<short>{1, 2, 0, 0, 2, 0, 0, 1}));
  EXPECT_EQ(s.own_class, f.own);
  EXPECT_EQ(s.sample_of, (std::vector<int>{2, 3, 0, 1, 3, 0, 1, 2}));
  EXPECT_EQ(s.other_class, (std::vector<short>{0, 0, 1, 1, 1, 2, 2, 2}));
  EXPECT_EQ(s.block_start, (std::vector<int>{0, 0, 1, 2, 4, 4, 5, 7, 8, 8}));
  EXPECT_EQ(s.inactive_start, std::vector<int>(10, 8));
  EXPECT_EQ(s.active_count, 8);
  expect_layout_holds(f);
}

TEST(SolverMbLayout, DeactivateThenReactivateRestoresRangesWithVariableAtBlockEnd) {
  Layout_fixture f({2, 1, 1});
  Probe& s = f.solver;
  const std::vector<int> before = s.block_start;
  // Variable 0 is sample 2 against class 0: block beta(1, 0) = 1.
  s.shrink_out(0);
  EXPECT_EQ(s.active_count, 7);
  EXPECT_EQ(s.block_start[9], 7);
  EXPECT_EQ(s.inactive_start[0], 7);
  EXPECT_EQ(s.inactive_start[1], 7);  // first of block 1's inactive range
  EXPECT_EQ(s.position_of(0), 7);
  expect_layout_holds(f);

  s.bring_back(0);
  EXPECT_EQ(s.block_start, before);
  EXPECT_EQ(s.inactive_start, std::vector<int>(10, 8));
  EXPECT_EQ(s.position_of(0), s.block_start[2] - 1);
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
  Probe& s = f.solver;
  const std::vector<int> initial = s.block_start;
  for (int v : c.out) {
    s.shrink_out(v);
    expect_layout_holds(f);
    if (HasFatalFailure()) return;
  }
  for (int v : c.back) {
    s.bring_back(v);
    expect_layout_holds(f);
    if (HasFatalFailure()) return;
    const int p = s.position_of(v);
    EXPECT_EQ(p, s.block_start[s.block_of(p) + 1] - 1) << "variable " << v;
  }
  if (c.out.size() == c.back.size()) {
    EXPECT_EQ(s.block_start, initial);
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
  Probe& s = f.solver;
  const int l = s.var_count;
  for (int v : {0, 20, 9, 13, 5, 19, 1}) s.shrink_out(v);
  // Mark every position with the variable standing there.
  for (int p = 0; p < l; ++p) {
    const int v = s.position_map[p];
    s.alpha[p] = 100 + v;
    s.gradient[p] = 200 + v;
    s.bound_gradient[p] = 300 + v;
    s.bound_state[p] = static_cast<Bound_state>(v % 3);
  }
  const std::vector<int> chosen_positions = {3, 17, 0, 20, 11, 8};
  std::vector<int> chosen_variables;
  for (int k = 0; k < 6; ++k) {
    s.working_set[k] = chosen_positions[k];
    chosen_variables.push_back(s.position_map[chosen_positions[k]]);
  }
  const std::vector<int> previous_positions = {20, 4, -1, -1, -1, -1};
  s.previous_working_set = previous_positions;
  const std::vector<int> previous_variables = {s.position_map[20], s.position_map[4]};

  s.active_count = l;  // as the full check leaves it
  s.after_failed_full_check();

  EXPECT_EQ(s.working_set, chosen_variables);
  EXPECT_EQ(s.previous_working_set,
            (std::vector<int>{previous_variables[0], previous_variables[1], -1, -1, -1, -1}));
  std::vector<int> identity(l);
  std::iota(identity.begin(), identity.end(), 0);
  EXPECT_EQ(s.position_map, identity);
  for (int p = 0; p < l; ++p) {
    EXPECT_EQ(s.alpha[p], 100 + p);
    EXPECT_EQ(s.gradient[p], 200 + p);
    EXPECT_EQ(s.bound_gradient[p], 300 + p);
    EXPECT_EQ(s.bound_state[p], static_cast<Bound_state>(p % 3));
  }
  expect_layout_holds(f);
  EXPECT_EQ(s.inactive_start, std::vector<int>(17, l));
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
  Probe& s = f.solver;
  for (int v : c.out) s.shrink_out(v);
  const int l = s.var_count;
  // A column over the samples with distinct entries.
  std::vector<float> col(f.set.problem.sample_count);
  for (size_t t = 0; t < col.size(); ++t) col[t] = 1.5f + 0.25f * static_cast<float>(t);
  const double delta = 0.375;
  for (int p0 = 0; p0 < l; ++p0) {
    const reference::Variable& changed = f.variables[s.position_map[p0]];
    for (auto ranges : {Probe::Ranges::active, Probe::Ranges::inactive, Probe::Ranges::both}) {
      std::vector<double> target(l, 0.0);
      s.spread(s.own_class[p0], s.other_class[p0], delta, col.data(), target.data(), ranges);
      for (int p = 0; p < l; ++p) {
        const bool active = p < s.active_count;
        const bool reached =
            ranges == Probe::Ranges::both || (active == (ranges == Probe::Ranges::active));
        const reference::Variable& other = f.variables[s.position_map[p]];
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
  std::vector<short> own = {1, 0};
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
};
void PrintTo(const Solve_case& c, std::ostream* out) { *out << c.name; }

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
  std::vector<short> own = own_classes(variables);
  std::vector<double> alpha(l, 0.0);
  const double eps = c.eps;
  Solve_result result{0, nullptr};
  Solver_MB solver(test_run.box_solver(), test_run.progress());
  solver.optimize(l, q, -2.0, alpha.data(), own.data(), c.class_C.data(), eps, &result, c.shrinking,
                  c.qpsize, n, c.sizes.data());

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
                   2}),
    [](const ::testing::TestParamInfo<Solve_case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tevra
