#include "learn/trust_region.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/blas_lapack.h"
#include "learn/box_quadratic.h"
#include "learn/box_solver_state.h"
#include "learn/cauchy_step.h"
#include "learn/subspace_step.h"

namespace tevra {
namespace {

// A quadratic published as the current one for the test's lifetime.
class TrustRegionSolve : public testing::Test {
 protected:
  void use(std::vector<double> matrix, std::vector<double> linear) {
    matrix_ = std::move(matrix);
    linear_ = std::move(linear);
    set_current_quadratic(matrix_.data(), linear_.data());
  }

  // Solves from x with the fixed settings of the sub-problem entry except
  // those given; returns what was printed.
  std::string solve(std::vector<double>& x, const std::vector<double>& lower,
                    const std::vector<double>& upper, double gradient_tolerance,
                    int max_evaluations = 1000) {
    testing::internal::CaptureStdout();
    trust_region_solve(static_cast<int>(x.size()), x.data(), lower.data(), upper.data(),
                       gradient_tolerance, 1e-12, 0, -1e32, max_evaluations, 0.1);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
  }

  std::vector<double> matrix_;
  std::vector<double> linear_;
};

TEST_F(TrustRegionSolve, HonoursGeneralLowerBounds) {
  use({1, 0, 0, 1}, {0, 0});  // minimiser 0 lies outside the box
  std::vector<double> x = {1.5, -2};
  EXPECT_EQ(solve(x, {1, -3}, {2, -1}, 1e-10), "");
  EXPECT_EQ(x, (std::vector<double>{1, -1}));
}

// With no gradient test to stop it, a start already at the optimal corner
// gives a zero trial step: rejected, and the FATOL test ends the solve.
TEST_F(TrustRegionSolve, ZeroStepEndsWithFatolMessage) {
  use({2, 0, 0, 2}, {-4, 3});
  std::vector<double> x = {1, 0};
  EXPECT_EQ(solve(x, {0, 0}, {1, 1}, -1), "CONVERGENCE: FATOL TEST SATISFIED\n");
  EXPECT_EQ(x, (std::vector<double>{1, 0}));
  EXPECT_EQ(box_solver_state().evaluation_count, 2);
}

// Without a gradient tolerance only exact stationarity or the relative
// objective test can stop the solve; the latter is silent.
TEST_F(TrustRegionSolve, RelativeObjectiveTestStopsSilently) {
  use({4, 1, 1, 3}, {-1, -2});
  std::vector<double> x = {0, 0};
  EXPECT_EQ(solve(x, {0, 0}, {1, 1}, 0), "");
  EXPECT_NEAR(x[0], 1.0 / 11, 1e-12);
  EXPECT_NEAR(x[1], 7.0 / 11, 1e-12);
}

// The evaluation that exceeds the limit ends the solve at once, leaving x at
// that trial point: with a limit of 1 it is the first trial, rebuilt here
// from the step routines.
TEST_F(TrustRegionSolve, EvaluationLimitKeepsTheTrialPoint) {
  const std::vector<double> A = {5, 2, 1, 2, 4, 1, 1, 1, 3};
  const std::vector<double> b = {-3, 1, -2};
  const std::vector<double> lower = {0, 0, 0}, upper = {1, 0.5, 2};
  const std::vector<double> start = {0.2, 0.2, 0.2};
  use(A, b);

  std::vector<double> g(3);
  quadratic_gradient(3, start.data(), g.data());
  const double delta = 1000 * dnrm2(3, g.data());
  double alpha = 1.0;
  std::vector<double> trial = start, s(3);
  cauchy_step(3, trial.data(), lower.data(), upper.data(), A.data(), g.data(), delta, alpha,
              s.data());
  subspace_step(3, trial.data(), lower.data(), upper.data(), A.data(), g.data(), delta, 0.1,
                s.data());

  use(A, b);
  std::vector<double> x = start;
  EXPECT_EQ(solve(x, lower, upper, 1e-10, 1), "");
  EXPECT_EQ(box_solver_state().evaluation_count, 2);
  EXPECT_EQ(x, trial);
}

// Each iteration evaluates once: a limit of k allows k trial points.
TEST_F(TrustRegionSolve, EvaluationLimitCountsTrialPoints) {
  double previous = 0;
  for (int limit = 1; limit <= 6; ++limit) {
    use({0}, {-1});  // decreases without bound inside [0, 1e300]
    std::vector<double> x = {0};
    EXPECT_EQ(solve(x, {0}, {1e300}, 1e-10, limit), "");
    EXPECT_EQ(box_solver_state().evaluation_count, limit + 1);
    EXPECT_GT(x[0], previous) << "limit " << limit;
    previous = x[0];
  }
}

TEST(BoxQuadratic, EvaluatesFromTheUpperTriangleAndCounts) {
  // Garbage below the diagonal: only the upper triangle may be read.
  const std::vector<double> A = {2, 99, 1, 3};
  const std::vector<double> b = {-1, 0.5};
  const std::vector<double> x = {0.5, 2};
  set_current_quadratic(A.data(), b.data());
  EXPECT_EQ(quadratic_hessian(), A.data());

  std::vector<double> g(2);
  quadratic_gradient(2, x.data(), g.data());
  EXPECT_EQ(g, (std::vector<double>{-1 + 1 + 2, 0.5 + 0.5 + 6}));

  double f = 0;
  EXPECT_EQ(quadratic_value(2, x.data(), f), 1);
  // 1/2 x'Ax + b'x with x'Ax = 0.5*(1 + 2) + 2*(0.5 + 6) = 14.5.
  EXPECT_EQ(f, 0.5 * 14.5 + (-0.5 + 1));
  EXPECT_EQ(quadratic_value(2, x.data(), f), 2);
  EXPECT_EQ(box_solver_state().evaluation_count, 2);

  set_current_quadratic(A.data(), b.data());
  EXPECT_EQ(box_solver_state().evaluation_count, 0);
}

}  // namespace
}  // namespace tevra
