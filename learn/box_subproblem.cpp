#include "learn/box_subproblem.h"

#include <vector>

#include "learn/box_quadratic.h"
#include "learn/box_solver_state.h"
#include "learn/trust_region.h"

namespace tevra {
namespace {

// Fixed settings of the trust-region solver for working-set sub-problems.
constexpr double relative_f_tolerance = 1e-12;
constexpr double absolute_f_tolerance = 0;
constexpr double f_minimum = -1e32;
constexpr int max_evaluations = 1000;
constexpr double cg_tolerance = 0.1;

}  // namespace

void solve_box_subproblem(const Box_subproblem& p) {
  const int n = p.size;
  set_current_quadratic(p.matrix, p.linear);
  std::vector<double> lower(n, 0.0);
  trust_region_solve(n, p.x, lower.data(), p.upper, p.tolerance, relative_f_tolerance,
                     absolute_f_tolerance, f_minimum, max_evaluations, cg_tolerance);
  // The references are valid only during the solve; the evaluation count
  // stays readable until the next one.
  box_solver_state().matrix = nullptr;
  box_solver_state().linear = nullptr;
}

}  // namespace tevra
