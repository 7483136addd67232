#include "learn/box/truncated_cg.h"

#include <cmath>
#include <random>
#include <vector>

#include "gtest/gtest.h"

namespace tevra {
namespace {

struct Boundary_case {
  const char* name;
  std::vector<double> w, d;
  double delta;
  double expected;
};

class BoundaryStepLength : public testing::TestWithParam<Boundary_case> {};

TEST_P(BoundaryStepLength, ReachesTheSphere) {
  const Boundary_case c = GetParam();
  EXPECT_EQ(boundary_step_length(static_cast<int>(c.w.size()), c.w.data(), c.d.data(), c.delta),
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Box, BoundaryStepLength,
    testing::Values(
        Boundary_case{"from_centre", {0, 0}, {0, 0.5}, 2, 4},
        Boundary_case{"outward", {1, 0}, {1, 0}, 2, 1},    // dw > 0 form
        Boundary_case{"inward", {1, 0}, {-1, 0}, 2, 3},    // dw < 0 form
        Boundary_case{"on_sphere_tangent", {2, 0}, {0, 1}, 2, 0},
        Boundary_case{"on_sphere_inward", {2, 0}, {-1, 0}, 2, 4},
        Boundary_case{"zero_direction", {1, 0}, {0, 0}, 2, 0}),
    [](const testing::TestParamInfo<Boundary_case>& info) { return info.param.name; });

TEST(BoundaryStepLength, LandsOnTheSphereForRandomDirections) {
  std::mt19937 rng(7);
  auto uniform = [&] { return static_cast<double>(rng()) / rng.max() * 2 - 1; };
  for (int trial = 0; trial < 200; ++trial) {
    const int m = 1 + trial % 6;
    std::vector<double> w(m), d(m);
    double ww = 0;
    for (int i = 0; i < m; ++i) {
      w[i] = uniform();
      d[i] = uniform();
      ww += w[i] * w[i];
    }
    const double delta = std::sqrt(ww) * (1 + std::fabs(uniform()));
    const double sigma = boundary_step_length(m, w.data(), d.data(), delta);
    double norm = 0;
    for (int i = 0; i < m; ++i) norm += (w[i] + sigma * d[i]) * (w[i] + sigma * d[i]);
    EXPECT_GE(sigma, 0);
    EXPECT_NEAR(std::sqrt(norm), delta, 1e-12 * delta) << "trial " << trial;
  }
}

// Column-major m*m from rows.
struct Cg_case {
  const char* name;
  std::vector<double> B, L, r;
  double delta, tol, stol;
  Cg_outcome outcome;
  std::vector<double> w;
};

class TruncatedCg : public testing::TestWithParam<Cg_case> {};

TEST_P(TruncatedCg, EndsWithTheExpectedOutcome) {
  const Cg_case c = GetParam();
  const int m = static_cast<int>(c.r.size());
  std::vector<double> w(m, NAN);
  EXPECT_EQ(truncated_cg(m, c.B.data(), c.r.data(), c.delta, c.L.data(), c.tol, c.stol, w.data()),
            c.outcome);
  ASSERT_EQ(w.size(), c.w.size());
  for (int i = 0; i < m; ++i) EXPECT_NEAR(w[i], c.w[i], 1e-14) << "entry " << i;
}

const double root2 = std::sqrt(2.0);
const double root3 = std::sqrt(3.0);

INSTANTIATE_TEST_SUITE_P(
    Box, TruncatedCg,
    testing::Values(
        Cg_case{"zero_gradient", {2, 0, 0, 3}, {root2, 0, 0, root3}, {0, 0}, 1, 1e-3, 1e-16,
                residual_small, {0, 0}},
        // With the exact factor one step reaches the minimiser (1/2, 1/3),
        // returned in scaled variables L'p.
        Cg_case{"exact_factor_one_step",
                {2, 0, 0, 3},
                {root2, 0, 0, root3},
                {-1, -1},
                100,
                1e-10,
                1e-16,
                residual_small,
                {root2 / 2, root3 / 3}},
        // The unscaled test is disabled: the scaled residual ends it.
        Cg_case{"scaled_residual", {1, 0, 0, 1}, {1, 0, 0, 1}, {-1, -1}, 100, -1, 1e-16,
                scaled_residual_small, {1, 1}},
        Cg_case{"negative_curvature", {-1}, {1}, {-1}, 2, 1e-3, 1e-16, negative_curvature, {2}},
        Cg_case{"zero_curvature", {0}, {1}, {-1}, 2, 1e-3, 1e-16, negative_curvature, {2}},
        Cg_case{"leaves_region", {1, 0, 0, 1}, {1, 0, 0, 1}, {-10, 0}, 1, 1e-3, 1e-16, boundary,
                {1, 0}},
        // alpha = sigma = 1 exactly takes the boundary branch.
        Cg_case{"alpha_equals_sigma", {1, 0, 0, 1}, {1, 0, 0, 1}, {-1, 0}, 1, 1e-3, 1e-16,
                boundary, {1, 0}},
        // The region bounds the scaled step: L = 2 makes ||w|| = 1 mean p = 1/2.
        Cg_case{"region_in_scaled_variables", {4}, {2}, {-100}, 1, 1e-3, 1e-16, boundary, {1}},
        // Both tests disabled: m = 2 iterations reach the minimiser (1, 1/2)
        // of diag(1, 2) without a preconditioner, then the limit ends it.
        Cg_case{"iteration_limit", {1, 0, 0, 2}, {1, 0, 0, 1}, {-1, -1}, 100, -1, -1,
                iteration_limit, {1, 0.5}}),
    [](const testing::TestParamInfo<Cg_case>& info) { return info.param.name; });

// Only the lower triangle of L and the upper triangle of B are read.
TEST(TruncatedCg, ReadsUpperTriangleOfBAndLowerOfL) {
  const std::vector<double> B = {4, 1, 1, 3};
  const std::vector<double> L = {2, 0.5, 0, std::sqrt(2.75)};
  const std::vector<double> B_upper = {4, 99, 1, 3};   // garbage below the diagonal
  const std::vector<double> L_lower = {2, 0.5, -7, std::sqrt(2.75)};  // garbage above
  const std::vector<double> r = {-1, -2};
  std::vector<double> w1(2), w2(2);
  const Cg_outcome o1 = truncated_cg(2, B.data(), r.data(), 10, L.data(), 1e-8, 1e-16, w1.data());
  const Cg_outcome o2 =
      truncated_cg(2, B_upper.data(), r.data(), 10, L_lower.data(), 1e-8, 1e-16, w2.data());
  EXPECT_EQ(o1, o2);
  EXPECT_EQ(w1, w2);
}

}  // namespace
}  // namespace tevra
