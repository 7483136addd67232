// Randomised check of the sub-problem solver against the optimality
// conditions and, for small sizes, against an exhaustive search over the
// faces of the box.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/box/box_projection.h"
#include "learn/box/box_solver.h"
#include "tests/learn/box/recorded_messages.h"

namespace tevra {
namespace {

struct Random_problem {
  int n;
  std::vector<double> matrix;  // column-major, symmetric
  std::vector<double> linear;
  std::vector<double> upper;
  std::vector<double> start;
};

// Integer entries keep A = Z Z' exact, so a rank-deficient Z gives an
// exactly singular positive semi-definite A.
Random_problem make_problem(std::mt19937& rng, int n, int rank, bool ridge) {
  auto integer = [&](int low, int high) {
    return low + static_cast<int>(rng() % static_cast<unsigned>(high - low + 1));
  };
  Random_problem p;
  p.n = n;
  std::vector<double> z(n * rank);
  for (double& v : z) v = integer(-4, 4);
  p.matrix.assign(n * n, 0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double sum = 0;
      for (int k = 0; k < rank; ++k) sum += z[i * rank + k] * z[j * rank + k];
      p.matrix[i + j * n] = sum + (ridge && i == j ? 1 : 0);
    }
  for (int i = 0; i < n; ++i) {
    p.linear.push_back(integer(-40, 40) / 4.0);
    p.upper.push_back(integer(0, 8) / 2.0);  // some variables fixed at 0
    p.start.push_back(p.upper[i] * integer(0, 4) / 4.0);
  }
  return p;
}

double objective(const Random_problem& p, const std::vector<double>& x) {
  double f = 0;
  for (int i = 0; i < p.n; ++i) {
    double ax = 0;
    for (int j = 0; j < p.n; ++j) ax += p.matrix[i + j * p.n] * x[j];
    f += 0.5 * x[i] * ax + p.linear[i] * x[i];
  }
  return f;
}

std::vector<double> gradient(const Random_problem& p, const std::vector<double>& x) {
  std::vector<double> g(p.linear);
  for (int i = 0; i < p.n; ++i)
    for (int j = 0; j < p.n; ++j) g[i] += p.matrix[i + j * p.n] * x[j];
  return g;
}

// Solves the square system M y = rhs (M m*m row-major, destroyed) by
// Gauss-Jordan elimination with full pivoting, taking the minimum-pivot
// components of a singular system as 0. False when the system has no
// solution.
bool solve_consistent(int m, std::vector<double> M, std::vector<double> rhs,
                      std::vector<double>& y) {
  std::vector<int> column(m);
  for (int i = 0; i < m; ++i) column[i] = i;
  int rank = 0;
  for (; rank < m; ++rank) {
    int pr = -1, pc = -1;
    double best = 1e-9;
    for (int r = rank; r < m; ++r)
      for (int c = rank; c < m; ++c)
        if (std::fabs(M[r * m + c]) > best) {
          best = std::fabs(M[r * m + c]);
          pr = r;
          pc = c;
        }
    if (pr < 0) break;
    for (int c = 0; c < m; ++c) std::swap(M[rank * m + c], M[pr * m + c]);
    std::swap(rhs[rank], rhs[pr]);
    for (int r = 0; r < m; ++r) std::swap(M[r * m + rank], M[r * m + pc]);
    std::swap(column[rank], column[pc]);
    for (int r = 0; r < m; ++r) {
      if (r == rank) continue;
      const double factor = M[r * m + rank] / M[rank * m + rank];
      for (int c = rank; c < m; ++c) M[r * m + c] -= factor * M[rank * m + c];
      rhs[r] -= factor * rhs[rank];
    }
  }
  for (int r = rank; r < m; ++r)
    if (std::fabs(rhs[r]) > 1e-7) return false;
  y.assign(m, 0);
  for (int r = 0; r < rank; ++r) y[column[r]] = rhs[r] / M[r * m + r];
  return true;
}

// Minimum of the convex quadratic over the box: on every face (each variable
// at 0, at its bound, or free) the stationary point of the face, when it
// exists and lies in the box, is a candidate.
double brute_force_minimum(const Random_problem& p) {
  const int n = p.n;
  int faces = 1;
  for (int i = 0; i < n; ++i) faces *= 3;
  double best = HUGE_VAL;
  std::vector<int> state(n);
  for (int face = 0; face < faces; ++face) {
    int code = face;
    std::vector<int> free_set;
    std::vector<double> x(n, 0);
    for (int i = 0; i < n; ++i) {
      state[i] = code % 3;
      code /= 3;
      if (state[i] == 1) x[i] = p.upper[i];
      if (state[i] == 2) free_set.push_back(i);
    }
    const int m = static_cast<int>(free_set.size());
    if (m > 0) {
      std::vector<double> M(m * m), rhs(m), y;
      for (int r = 0; r < m; ++r) {
        rhs[r] = -p.linear[free_set[r]];
        for (int j = 0; j < n; ++j)
          if (state[j] != 2) rhs[r] -= p.matrix[free_set[r] + j * n] * x[j];
        for (int c = 0; c < m; ++c) M[r * m + c] = p.matrix[free_set[r] + free_set[c] * n];
      }
      if (!solve_consistent(m, M, rhs, y)) continue;
      bool inside = true;
      for (int r = 0; r < m; ++r) {
        x[free_set[r]] = y[r];
        if (y[r] < -1e-9 || y[r] > p.upper[free_set[r]] + 1e-9) inside = false;
      }
      if (!inside) continue;
    }
    const double f = objective(p, x);
    if (f < best) best = f;
  }
  return best;
}

struct Property_case {
  const char* name;
  bool definite;  // otherwise rank-deficient semi-definite
};

class SolveBoxSubproblemProperty : public testing::TestWithParam<Property_case> {};

TEST_P(SolveBoxSubproblemProperty, MeetsOptimalityAndMatchesExhaustiveSearch) {
  const bool definite = GetParam().definite;
  std::mt19937 rng(definite ? 20261 : 20262);
  std::string printed;
  Box_solver solver(testing_support::recording_into(&printed));
  for (int trial = 0; trial < 600; ++trial) {
    const int n = 1 + trial % 20;
    // The loose tolerance of the decomposition solvers, and a tight one that
    // lets the objective be compared with the exhaustive search.
    const double tolerance = trial % 40 < 20 ? 1e-4 : 1e-10;
    const int rank = definite ? n : 1 + static_cast<int>(rng() % n);
    Random_problem p = make_problem(rng, n, rank, definite);
    std::vector<double> x = p.start;
    std::vector<double> upper = p.upper;
    std::vector<double> matrix = p.matrix;
    std::vector<double> linear = p.linear;
    printed.clear();
    solver.solve(Box_subproblem{tolerance, n, x.data(), upper.data(), matrix.data(),
                                linear.data()});
    SCOPED_TRACE(testing::Message() << "trial " << trial << " n " << n << " rank " << rank);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(upper, p.upper);
    EXPECT_EQ(matrix, p.matrix);
    EXPECT_EQ(linear, p.linear);

    for (int i = 0; i < n; ++i) {
      ASSERT_GE(x[i], 0);
      ASSERT_LE(x[i], p.upper[i]);
    }
    const std::vector<double> g0 = gradient(p, p.start);
    double g0_norm = 0;
    for (double v : g0) g0_norm += v * v;
    g0_norm = std::sqrt(g0_norm);
    const std::vector<double> zeros(n, 0);
    const std::vector<double> g = gradient(p, x);
    EXPECT_LE(projected_gradient_norm(n, x.data(), zeros.data(), p.upper.data(), g.data()),
              tolerance * g0_norm + 1e-9);

    if (n <= 6 && tolerance < 1e-4) {
      const double f = objective(p, x);
      const double f_best = brute_force_minimum(p);
      EXPECT_NEAR(f, f_best, 1e-6 * (1 + std::fabs(f_best)));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Random, SolveBoxSubproblemProperty,
                         testing::Values(Property_case{"definite", true},
                                         Property_case{"semidefinite", false}),
                         [](const testing::TestParamInfo<Property_case>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace tevra
