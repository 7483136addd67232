#include "learn/box/trust_region.h"

#include <cmath>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/box/blas_lapack.h"
#include "learn/box/box_quadratic.h"
#include "learn/box/box_solver.h"
#include "learn/box/cauchy_step.h"
#include "learn/box/shifted_cholesky.h"
#include "learn/box/subspace_step.h"
#include "tests/learn/box/recorded_messages.h"

namespace tevra {
namespace {

// The quadratic of the test, the count and shift a solver would carry, and
// the messages.
class TrustRegionSolve : public testing::Test {
 protected:
  void use(std::vector<double> matrix, std::vector<double> linear) {
    matrix_ = std::move(matrix);
    linear_ = std::move(linear);
  }

  // Solves from x with the default settings except those given; returns
  // what was printed.
  std::string solve(std::vector<double>& x, const std::vector<double>& lower,
                    const std::vector<double>& upper, double gradient_tolerance,
                    int max_evaluations = 1000) {
    options.max_evaluations = max_evaluations;
    printed.clear();
    Box_quadratic quadratic(matrix_.data(), linear_.data(), &evaluation_count);
    Shifted_cholesky cholesky(&shift, options);
    trust_region_solve(quadratic, cholesky, options, static_cast<int>(x.size()), x.data(),
                       lower.data(), upper.data(), gradient_tolerance);
    return printed;
  }

  std::vector<double> matrix_;
  std::vector<double> linear_;
  std::string printed;
  Box_solver_options options = testing_support::recording_into(&printed);
  int evaluation_count = 0;
  double shift = options.initial_cholesky_shift;
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
  EXPECT_EQ(evaluation_count, 2);
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
  int unused;
  Box_quadratic(A.data(), b.data(), &unused).gradient(3, start.data(), g.data());
  const double delta = 1000 * dnrm2(3, g.data());
  double alpha = 1.0;
  std::vector<double> trial = start, s(3);
  cauchy_step(3, trial.data(), lower.data(), upper.data(), A.data(), g.data(), delta, alpha,
              s.data());
  Shifted_cholesky cholesky(&shift, options);
  subspace_step(cholesky, 3, trial.data(), lower.data(), upper.data(), A.data(), g.data(), delta,
                0.1, s.data());

  use(A, b);
  std::vector<double> x = start;
  EXPECT_EQ(solve(x, lower, upper, 1e-10, 1), "");
  EXPECT_EQ(evaluation_count, 2);
  EXPECT_EQ(x, trial);
}

// Each iteration evaluates once: a limit of k allows k trial points.
TEST_F(TrustRegionSolve, EvaluationLimitCountsTrialPoints) {
  double previous = 0;
  for (int limit = 1; limit <= 6; ++limit) {
    use({0}, {-1});  // decreases without bound inside [0, 1e300]
    std::vector<double> x = {0};
    EXPECT_EQ(solve(x, {0}, {1e300}, 1e-10, limit), "");
    EXPECT_EQ(evaluation_count, limit + 1);
    EXPECT_GT(x[0], previous) << "limit " << limit;
    previous = x[0];
  }
}

TEST(BoxQuadratic, EvaluatesFromTheUpperTriangleAndCounts) {
  // Garbage below the diagonal: only the upper triangle may be read.
  const std::vector<double> A = {2, 99, 1, 3};
  const std::vector<double> b = {-1, 0.5};
  const std::vector<double> x = {0.5, 2};
  int count = 7;
  Box_quadratic quadratic(A.data(), b.data(), &count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(quadratic.hessian(), A.data());

  std::vector<double> g(2);
  quadratic.gradient(2, x.data(), g.data());
  EXPECT_EQ(g, (std::vector<double>{-1 + 1 + 2, 0.5 + 0.5 + 6}));

  double f = 0;
  EXPECT_EQ(quadratic.value(2, x.data(), f), 1);
  // 1/2 x'Ax + b'x with x'Ax = 0.5*(1 + 2) + 2*(0.5 + 6) = 14.5.
  EXPECT_EQ(f, 0.5 * 14.5 + (-0.5 + 1));
  EXPECT_EQ(quadratic.value(2, x.data(), f), 2);
  EXPECT_EQ(count, 2);

  Box_quadratic next(A.data(), b.data(), &count);
  EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace tevra
