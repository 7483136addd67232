#include "learn/box/box_projection.h"

#include <cmath>
#include <vector>

#include "gtest/gtest.h"

namespace tevra {
namespace {

constexpr double inf = HUGE_VAL;

TEST(ProjectOntoBox, ClipsEachCoordinateIntoItsInterval) {
  std::vector<double> x = {-1, 0.5, 3, 2, 7, -inf};
  const std::vector<double> l = {0, 0, 0, 2, 1, -5};
  const std::vector<double> u = {1, 1, 1, 2, inf, 5};
  project_onto_box(6, x.data(), l.data(), u.data());
  EXPECT_EQ(x, (std::vector<double>{0, 0.5, 1, 2, 7, -5}));
}

struct Step_case {
  const char* name;
  double x, l, u, alpha, w;
  double expected;
};

class ProjectedStep : public testing::TestWithParam<Step_case> {};

TEST_P(ProjectedStep, ClipsTheMoveAtTheBounds) {
  const Step_case c = GetParam();
  double s = NAN;
  projected_step(1, &c.x, &c.l, &c.u, c.alpha, &c.w, &s);
  EXPECT_EQ(s, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Box, ProjectedStep,
    testing::Values(
        // Inside: exactly alpha*w, not (0.1 + 0.2) - 0.1 = 0.20000000000000004.
        Step_case{"interior_is_exact", 0.1, 0, 1, 2, 0.1, 0.2},
        Step_case{"negative_alpha", 0.5, 0, 1, -0.25, 1, -0.25},
        Step_case{"past_upper", 0.25, 0, 1, 1, 2, 0.75},
        Step_case{"past_lower", 0.25, 0, 1, -1, 2, -0.25},
        // x + t lands exactly on u = 0.1 + 0.2: the interior branch returns t,
        // which differs from u - x.
        Step_case{"exactly_on_upper", 0.1, 0, 0.1 + 0.2, 1, 0.2, 0.2},
        Step_case{"fixed_variable", 0.5, 0.5, 0.5, 1, -3, 0},
        Step_case{"at_bound_pushing_out", 0, 0, 1, 1, -1, 0},
        Step_case{"infinite_bound", 1e300, 0, inf, 1e10, 1e300, inf}),
    [](const testing::TestParamInfo<Step_case>& info) { return info.param.name; });

struct Breakpoint_case {
  const char* name;
  std::vector<double> x, l, u, w;
  int count;
  double first, last;
};

class FindBreakpoints : public testing::TestWithParam<Breakpoint_case> {};

TEST_P(FindBreakpoints, CountsAndBracketsTheBreakpoints) {
  const Breakpoint_case c = GetParam();
  const int n = static_cast<int>(c.x.size());
  int count = -1;
  double first = NAN, last = NAN;
  find_breakpoints(n, c.x.data(), c.l.data(), c.u.data(), c.w.data(), count, first, last);
  EXPECT_EQ(count, c.count);
  EXPECT_EQ(first, c.first);
  EXPECT_EQ(last, c.last);
}

INSTANTIATE_TEST_SUITE_P(
    Box, FindBreakpoints,
    testing::Values(
        Breakpoint_case{"empty", {}, {}, {}, {}, 0, 0, 0},
        // Every coordinate is blocked, fixed or not moving.
        Breakpoint_case{"none_can_move",
                        {1, 0, 0.5, 0.5},
                        {0, 0, 0.5, 0},
                        {1, 1, 0.5, 1},
                        {2, -1, 1, 0},
                        0,
                        0,
                        0},
        Breakpoint_case{"single", {0.25}, {0}, {1}, {-0.5}, 1, 0.5, 0.5},
        // Breakpoints 0.5 (to upper), 4 (to lower), 0.25; blocked third entry.
        Breakpoint_case{"several",
                        {0, 2, 1, 0.5},
                        {0, 0, 0, 0},
                        {1, 3, 1, 1},
                        {2, -0.5, 1, 2},
                        3,
                        0.25,
                        4},
        Breakpoint_case{"infinite_bound", {0, 0}, {0, 0}, {inf, 2}, {1, 1}, 2, 2, inf}),
    [](const testing::TestParamInfo<Breakpoint_case>& info) { return info.param.name; });

struct Norm_case {
  const char* name;
  std::vector<double> x, l, u, g;
  double expected;
};

class ProjectedGradientNorm : public testing::TestWithParam<Norm_case> {};

TEST_P(ProjectedGradientNorm, TakesTheLargestMovableComponent) {
  const Norm_case c = GetParam();
  const int n = static_cast<int>(c.x.size());
  EXPECT_EQ(projected_gradient_norm(n, c.x.data(), c.l.data(), c.u.data(), c.g.data()),
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Box, ProjectedGradientNorm,
    testing::Values(
        Norm_case{"inside_infinity_norm", {0.5, 0.5}, {0, 0}, {1, 1}, {-3, 2}, 3},
        Norm_case{"pushing_out_at_bounds", {1, 0}, {0, 0}, {1, 1}, {-3, 2}, 0},
        Norm_case{"zero_gradient_at_bounds", {1, 0}, {0, 0}, {1, 1}, {0, 0}, 0},
        // At a bound with the gradient pointing inward the variable can move.
        Norm_case{"pointing_inward_at_bounds", {1, 0}, {0, 0}, {1, 1}, {3, -2}, 3},
        Norm_case{"fixed_variable_skipped", {0.5, 0.2}, {0.5, 0}, {0.5, 1}, {-9, -0.5}, 0.5},
        // Only exact equality counts as being at a bound.
        Norm_case{"near_bound_counts", {1 - 1e-16, 1e-300}, {0, 0}, {1, 1}, {-3, 2}, 3}),
    [](const testing::TestParamInfo<Norm_case>& info) { return info.param.name; });

}  // namespace
}  // namespace tevra
