#include "learn/box/box_solver.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/learn/box/recorded_messages.h"

namespace tevra {
namespace {

using testing_support::recording_into;

// A solver of the test's own whose messages are kept.
class SolveBoxSubproblem : public testing::Test {
 protected:
  std::string printed;
  Box_solver solver{recording_into(&printed)};
};

// A sub-problem owned by the test; A is given row by row and stored
// column-major (it is symmetric, so only the reading order changes).
struct Problem_data {
  std::vector<double> matrix;
  std::vector<double> linear;
  std::vector<double> upper;
  std::vector<double> x;
  double tolerance = 1e-10;

  Box_subproblem record() {
    return Box_subproblem{tolerance, static_cast<int>(x.size()), x.data(), upper.data(),
                          matrix.data(), linear.data()};
  }
};

// Runs solver on p and returns what it printed.
std::string solve_recording(Box_solver& solver, std::string& printed, Problem_data& p) {
  printed.clear();
  solver.solve(p.record());
  return printed;
}

double objective(const Problem_data& p, const std::vector<double>& x) {
  const int n = static_cast<int>(x.size());
  double f = 0;
  for (int i = 0; i < n; ++i) {
    f += p.linear[i] * x[i];
    for (int j = 0; j < n; ++j) f += 0.5 * x[i] * p.matrix[i + j * n] * x[j];
  }
  return f;
}

int count_of(const std::string& text, const std::string& line) {
  int count = 0;
  for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
    ++count;
  return count;
}

struct Known_answer {
  const char* name;
  Problem_data problem;
  std::vector<double> solution;
  std::vector<bool> exact;  // coordinates that must sit exactly on a bound
};

class KnownAnswer : public testing::TestWithParam<Known_answer> {};

TEST_P(KnownAnswer, ReachesTheMinimiser) {
  Known_answer c = GetParam();
  std::string printed;
  Box_solver solver(recording_into(&printed));
  EXPECT_EQ(solve_recording(solver, printed, c.problem), "");
  for (std::size_t i = 0; i < c.solution.size(); ++i) {
    if (c.exact[i])
      EXPECT_EQ(c.problem.x[i], c.solution[i]) << "coordinate " << i;
    else
      EXPECT_NEAR(c.problem.x[i], c.solution[i], 1e-8) << "coordinate " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Box, KnownAnswer,
    testing::Values(
        // 4x0 + x1 = 1, x0 + 3x1 = 2.
        Known_answer{"interior", {{4, 1, 1, 3}, {-1, -2}, {1, 1}, {0, 0}},
                     {1.0 / 11, 7.0 / 11}, {false, false}},
        Known_answer{"interior_from_upper_corner", {{4, 1, 1, 3}, {-1, -2}, {1, 1}, {1, 1}},
                     {1.0 / 11, 7.0 / 11}, {false, false}},
        // Unconstrained minimiser (2, 0.5): x0 stops at its upper bound.
        Known_answer{"upper_face", {{2, 0, 0, 2}, {-4, -1}, {1, 1}, {0.5, 0.5}}, {1, 0.5},
                     {true, false}},
        // Coupled: with x0 = 1 the free x1 solves 1 + 2x1 = 2.
        Known_answer{"coupled_face", {{2, 1, 1, 2}, {-5, -2}, {1, 1}, {0, 0}}, {1, 0.5},
                     {true, false}},
        Known_answer{"corner", {{2, 0, 0, 2}, {-4, 3}, {1, 1}, {0.3, 0.7}}, {1, 0},
                     {true, true}},
        // Three variables, lower face for x2; x0, x1 solve [[3,1],[1,2]] x = (1,1).
        Known_answer{"lower_face_3",
                     {{3, 1, 0, 1, 2, 1, 0, 1, 4}, {-1, -1, 2}, {5, 5, 5}, {1, 1, 1}},
                     {0.2, 0.4, 0}, {false, false, true}},
        // A zero upper bound fixes the variable.
        Known_answer{"fixed_variable", {{2, 1, 1, 2}, {-2, -2}, {0, 3}, {0, 0}}, {0, 1},
                     {true, false}}),
    [](const testing::TestParamInfo<Known_answer>& info) { return info.param.name; });

// Starts from which no coordinate can move: one evaluation, x untouched.
TEST_F(SolveBoxSubproblem, OptimalStartReturnsAfterOneEvaluation) {
  struct Case {
    const char* name;
    Problem_data problem;
  } cases[] = {
      {"corner_pushing_out", {{2, 0, 0, 2}, {-4, 3}, {1, 1}, {1, 0}}},
      {"zero_gradient_inside", {{4, 1, 1, 3}, {-1.5, -1.75}, {1, 1}, {0.25, 0.5}}},
      {"zero_matrix_and_linear", {{0, 0, 0, 0}, {0, 0}, {1, 1}, {0.5, 0.5}}},
  };
  for (Case& c : cases) {
    const std::vector<double> start = c.problem.x;
    EXPECT_EQ(solve_recording(solver, printed, c.problem), "") << c.name;
    EXPECT_EQ(c.problem.x, start) << c.name;
    EXPECT_EQ(solver.evaluation_count(), 1) << c.name;
  }
}

// The second coordinate's breakpoint 1 / 1e-309 overflows to +inf, which
// the Cauchy step's extrapolation once followed for ever.
TEST_F(SolveBoxSubproblem, BreakpointOverflowingToInfinityEnds) {
  Problem_data p{{0, 0, 0, 0}, {-1, -1e-309}, {1, 1}, {0, 0}};
  p.tolerance = 1e-3;
  solve_recording(solver, printed, p);
  EXPECT_EQ(p.x[0], 1);
}

// Two identical samples give a singular block: the plain factorisation fails,
// the shifted one succeeds, so nothing is printed and the shift stays.
TEST_F(SolveBoxSubproblem, SingularSemidefiniteBlockUsesTheShiftSilently) {
  Problem_data p{{1, 1, 1, 1}, {-1, -1}, {2, 2}, {0, 0}};
  const double shift = solver.cholesky_shift();
  EXPECT_EQ(shift, 0.001 / 262144.0);
  EXPECT_EQ(solve_recording(solver, printed, p), "");
  EXPECT_EQ(solver.cholesky_shift(), shift);
  EXPECT_NEAR(p.x[0] + p.x[1], 1, 1e-9);
  EXPECT_GE(p.x[0], 0);
  EXPECT_GE(p.x[1], 0);
}

// An indefinite free block defeats the shift: the message is printed once per
// failed factorisation and the shift doubles each time, for later solves too.
TEST_F(SolveBoxSubproblem, IndefiniteBlockReportsAndDoublesTheShift) {
  const double shift = solver.cholesky_shift();
  Problem_data p{{1, 2, 2, 1}, {-1, -1}, {1, 1}, {0.5, 0.4}};
  const std::string message = solve_recording(solver, printed, p);
  const int failures = count_of(message, "A is not positive semi-definite\n");
  ASSERT_GE(failures, 1);
  EXPECT_EQ(message.size(), failures * std::string("A is not positive semi-definite\n").size());
  EXPECT_EQ(solver.cholesky_shift(), std::ldexp(shift, failures));
  // The minimisers over the box are the corners (1, 0) and (0, 1), f = -1/2.
  EXPECT_DOUBLE_EQ(objective(p, p.x), -0.5);

  // A positive definite problem afterwards neither prints nor resets it.
  const double grown = solver.cholesky_shift();
  Problem_data q{{4, 1, 1, 3}, {-1, -2}, {1, 1}, {0, 0}};
  EXPECT_EQ(solve_recording(solver, printed, q), "");
  EXPECT_EQ(solver.cholesky_shift(), grown);

  // Another solver carries a shift of its own.
  Box_solver other(recording_into(&printed));
  EXPECT_EQ(other.cholesky_shift(), shift);
  Problem_data r{{1, 1, 1, 1}, {-1, -1}, {2, 2}, {0, 0}};
  solve_recording(other, printed, r);
  EXPECT_EQ(solver.cholesky_shift(), grown);
}

// Without a message function the messages go straight to standard output.
TEST(SolveBoxSubproblemMessages, DefaultGoesToStandardOutput) {
  Box_solver solver;
  Problem_data p{{1, 2, 2, 1}, {-1, -1}, {1, 1}, {0.5, 0.4}};
  testing::internal::CaptureStdout();
  solver.solve(p.record());
  std::fflush(stdout);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_GE(count_of(printed, "A is not positive semi-definite\n"), 1);
}

// Unbounded below in practice: the linear decrease runs past f_minimum.
TEST_F(SolveBoxSubproblem, FallingBelowFMinimumStopsWithWarning) {
  Problem_data p{{0}, {-1}, {1e300}, {0}};
  EXPECT_EQ(solve_recording(solver, printed, p), "WARNING: F .LT. FMIN\n");
  EXPECT_GT(p.x[0], 1e32);
  EXPECT_LE(p.x[0], 1e300);
  EXPECT_LT(solver.evaluation_count(), 1000);
}

// A rank-one block with entries near 1e10, as duplicate samples with large
// features give under the linear kernel: the shift is lost in rounding until
// it has doubled a few times, the first accepted step is tiny and the radius
// shrinks to it, and progress is too slow to finish within 1000 trial points.
TEST_F(SolveBoxSubproblem, StopsAfterOneThousandTrialPoints) {
  const double z[] = {-82900, 75900, -85200, 68100};
  Problem_data p;
  p.tolerance = 0;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) p.matrix.push_back(z[i] * z[j]);
  p.linear = {817000, -314000, 80000, -891000};
  p.upper = {3.5, 2.5, 1.6, 1.7};
  p.x = {0, 0, 0, 0};
  solve_recording(solver, printed, p);  // from the initial shift: the run depends on it
  EXPECT_EQ(solver.evaluation_count(), 1001);
  for (int i = 0; i < 4; ++i) {
    EXPECT_GE(p.x[i], 0);
    EXPECT_LE(p.x[i], p.upper[i]);
  }
}

// Only the shift carries over: the same problem solved twice, with other
// problems in between, gives the same point to the last bit.
TEST_F(SolveBoxSubproblem, ConsecutiveSolvesAreIndependent) {
  const Problem_data base{{5, 2, 1, 2, 4, 1, 1, 1, 3}, {-3, 1, -2}, {1, 0.5, 2}, {0.2, 0.2, 0.2}};
  Problem_data first = base;
  solve_recording(solver, printed, first);
  Problem_data other{{2, 0, 0, 2}, {-4, 3}, {1, 1}, {0.3, 0.7}};
  solve_recording(solver, printed, other);
  Problem_data second = base;
  solve_recording(solver, printed, second);
  EXPECT_EQ(first.x, second.x);
}

}  // namespace
}  // namespace tevra
