#include "learn/box/subspace_step.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/box/box_solver.h"
#include "learn/box/shifted_cholesky.h"
#include "tests/learn/box/recorded_messages.h"

namespace tevra {
namespace {

// A factorisation with a shift of the test's own, from its initial value,
// and the messages it printed.
class ShiftedCholesky : public testing::Test {
 protected:
  // Factorises B and returns what that printed.
  std::string factorise(int m, const std::vector<double>& B, std::vector<double>& L,
                        double& returned) {
    L.assign(m * m, NAN);
    printed.clear();
    returned = cholesky.factorize(m, B.data(), L.data());
    return printed;
  }

  std::string printed;
  Box_solver_options options = testing_support::recording_into(&printed);
  double shift = options.initial_cholesky_shift;
  Shifted_cholesky cholesky{&shift, options};
};

TEST_F(ShiftedCholesky, DefiniteBlockNeedsNoShift) {
  const double initial = shift;
  // Garbage above the diagonal: only the lower triangle is factorised.
  const std::vector<double> B = {4, 2, 99, 5};
  std::vector<double> L;
  double returned;
  EXPECT_EQ(factorise(2, B, L, returned), "");
  EXPECT_EQ(returned, 0);
  EXPECT_EQ(L[0], 2);
  EXPECT_EQ(L[1], 1);
  EXPECT_EQ(L[3], 2);
  EXPECT_EQ(shift, initial);
}

// Two identical samples: singular, factorised once the shift is added.
TEST_F(ShiftedCholesky, SingularSemidefiniteBlockTakesTheShiftSilently) {
  const double initial = shift;
  const std::vector<double> B = {1, 1, 1, 1};
  std::vector<double> L;
  double returned;
  EXPECT_EQ(factorise(2, B, L, returned), "");
  EXPECT_EQ(returned, initial);
  EXPECT_EQ(shift, initial);
  // L L' = B + shift*I.
  EXPECT_DOUBLE_EQ(L[0] * L[0], 1 + shift);
  EXPECT_DOUBLE_EQ(L[0] * L[1], 1);
  EXPECT_NEAR(L[1] * L[1] + L[3] * L[3], 1 + shift, 1e-15);
}

// Each failure of the shifted factorisation prints once and doubles the
// shift, which is kept for every later call.
TEST_F(ShiftedCholesky, IndefiniteBlockReportsAndDoublesTheShift) {
  const std::vector<double> B = {1, 2, 2, 1};
  for (int failure = 0; failure < 3; ++failure) {
    const double tried = shift;
    std::vector<double> L;
    double returned;
    EXPECT_EQ(factorise(2, B, L, returned), "A is not positive semi-definite\n");
    EXPECT_EQ(shift, 2 * tried);
    EXPECT_EQ(returned, 2 * tried);
    // The shifted attempt is left as it failed: first column factorised,
    // the failing diagonal entry holding the non-positive pivot.
    const double l00 = std::sqrt(1 + tried);
    EXPECT_EQ(L[0], l00);
    EXPECT_EQ(L[1], 2 / l00);
    EXPECT_EQ(L[3], (1 + tried) - (2 / l00) * (2 / l00));
    EXPECT_LE(L[3], 0);
  }
}

struct Line_search_case {
  const char* name;
  std::vector<double> x, l, u, B, r, w;
  std::vector<double> x_out, w_out;
};

class ProjectedLineSearch : public testing::TestWithParam<Line_search_case> {};

TEST_P(ProjectedLineSearch, MovesInsideTheBox) {
  Line_search_case c = GetParam();
  const int m = static_cast<int>(c.x.size());
  projected_line_search(m, c.x.data(), c.l.data(), c.u.data(), c.B.data(), c.r.data(),
                        c.w.data());
  EXPECT_EQ(c.x, c.x_out);
  EXPECT_EQ(c.w, c.w_out);
}

INSTANTIATE_TEST_SUITE_P(
    Box, ProjectedLineSearch,
    testing::Values(
        // First breakpoint 1.5 >= 1: the full step, untested.
        Line_search_case{"full_step", {0.5}, {0}, {2}, {100}, {-1}, {1}, {1.5}, {1}},
        // First breakpoint 1/8; the full (projected) step already decreases.
        Line_search_case{"first_length_decreases", {0.5}, {0}, {1}, {1}, {-1}, {4}, {1}, {0.5}},
        // Length 1 fails, 1/2 decreases enough (first breakpoint 1/8).
        Line_search_case{"backtrack_once",
                         {0.5, 0.5},
                         {0, 0},
                         {1, 100},
                         {1, 0, 0, 1},
                         {-1, -1},
                         {4, 3},
                         {1, 2},
                         {0.5, 1.5}},
        // Steep curvature: 1, 1/2, 1/4 fail, 1/8 drops below the first
        // breakpoint 1/6 and is raised to it: the variable lands on its bound.
        Line_search_case{"raised_to_first_breakpoint",
                         {0.5},
                         {0},
                         {1},
                         {100},
                         {-1},
                         {3},
                         {1},
                         {(0.5 / 3) * 3}}),
    [](const testing::TestParamInfo<Line_search_case>& info) { return info.param.name; });

// The subspace steps below meet positive definite blocks only.
class SubspaceStep : public ShiftedCholesky {};

TEST_F(SubspaceStep, NoFreeVariableLeavesTheCauchyPoint) {
  const std::vector<double> A = {2, 0, 0, 2}, l = {0, 0}, u = {1, 1}, g = {-4, 3};
  std::vector<double> x = {0.5, 0.5};
  std::vector<double> s = {0.5, -0.5};  // Cauchy step to the corner (1, 0)
  subspace_step(cholesky, 2, x.data(), l.data(), u.data(), A.data(), g.data(), 10, 0.1,
                s.data());
  EXPECT_EQ(x, (std::vector<double>{1, 0}));
  EXPECT_EQ(s, (std::vector<double>{0.5, -0.5}));
}

// From the Cauchy point the Newton step reaches the interior minimiser
// (1/11, 7/11) of [[4, 1], [1, 3]] x = (1, 2); s is the total step.
TEST_F(SubspaceStep, NewtonStepReachesInteriorMinimiser) {
  const std::vector<double> A = {4, 1, 1, 3}, l = {0, 0}, u = {1, 1};
  const std::vector<double> x0 = {0.5, 0.5};
  const std::vector<double> g = {4 * 0.5 + 0.5 - 1, 0.5 + 3 * 0.5 - 2};
  std::vector<double> x = x0;
  std::vector<double> s = {-0.1, 0.05};
  subspace_step(cholesky, 2, x.data(), l.data(), u.data(), A.data(), g.data(), 10, 0.1,
                s.data());
  EXPECT_NEAR(x[0], 1.0 / 11, 1e-12);
  EXPECT_NEAR(x[1], 7.0 / 11, 1e-12);
  EXPECT_NEAR(s[0], x[0] - x0[0], 1e-15);
  EXPECT_NEAR(s[1], x[1] - x0[1], 1e-15);
}

// A small region keeps the step on its boundary (in the scaled variables),
// and the trial point stays in the box.
TEST_F(SubspaceStep, SmallRegionStopsAtTheBoundary) {
  const std::vector<double> A = {1, 0, 0, 1}, l = {0, 0}, u = {10, 10};
  const std::vector<double> g = {-5, -5};
  std::vector<double> x = {1, 1};
  std::vector<double> s = {0, 0};
  subspace_step(cholesky, 2, x.data(), l.data(), u.data(), A.data(), g.data(), 0.5, 0.1,
                s.data());
  EXPECT_NEAR(std::hypot(s[0], s[1]), 0.5, 1e-12);
  EXPECT_NEAR(s[0], s[1], 1e-15);
}

}  // namespace
}  // namespace tevra
