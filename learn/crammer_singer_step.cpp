// The closed-form one-sample step of the Crammer and Singer duals.
#include "learn/crammer_singer_step.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace tevra {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

void closed_form(double A, const double* B, int k, int y, double cost, double d, double U,
                 double* D, double* result) {
  const double phi = A / (A + d);
  const auto larger_first = [](double u, double v) { return u > v; };

  for (int m = 0; m < k; ++m) D[m] = B[m];
  D[y] += A * cost;
  if (U == infinity) {
    // The label's entry has its own weight phi and stays out of the sort.
    std::swap(D[0], D[y]);
    std::sort(D + 1, D + k, larger_first);
  } else {
    std::sort(D, D + k, larger_first);
  }
  D[k] = -infinity;

  double beta = (D[0] - A * cost) * phi;
  int r = 1;
  // A > 0 gives phi in (0, 1], so the sentinel ends the walk at r = k at the
  // latest.
  while ((r - 1 + phi) * D[r] > beta) {
    beta += D[r];
    ++r;
  }
  beta /= (r - 1 + phi);

  for (int m = 0; m < k; ++m) result[m] = std::min(0.0, (beta - B[m]) / A);
  result[y] = std::min(U, (beta - B[y]) / (A + d));
}

}  // namespace

void solve_crammer_singer_step(double A, const double* B, int k, int y, double cost, double d,
                               double U, double* sort_buffer, double* result) {
  if (A > 0) {
    closed_form(A, B, k, y, cost, d, U, sort_buffer, result);
    return;
  }
  // Without curvature the sub-problem is linear in the mass moved from the
  // label to the most attractive other class. A negative A is treated the
  // same way: the closed form would give values that break the sample's
  // equality constraint, or infinite ones, and this step stays feasible and
  // finite.
  for (int m = 0; m < k; ++m) result[m] = 0;
  int b = 0;
  for (int m = 1; m < k; ++m)
    if (B[m] > B[b]) b = m;
  if (b != y) {
    result[y] = U == infinity ? 2 * cost * (B[b] - B[y]) : cost;
    result[b] = -result[y];
  }
}

}  // namespace tevra
