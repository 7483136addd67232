// Box_solver: the entry point of the sub-problem solver and the state it
// carries between solves.
#include "learn/box/box_solver.h"

#include <cstdio>

#include "learn/box/box_messages.h"
#include "learn/box/box_quadratic.h"
#include "learn/box/shifted_cholesky.h"
#include "learn/box/trust_region.h"

namespace tevra {

void print_box_message(const Box_solver_options& options, const char* text) {
  if (options.message != nullptr) {
    options.message(text, options.message_context);
  } else {
    std::fputs(text, stdout);
  }
}

Box_solver::Box_solver() : Box_solver(Box_solver_options()) {}

Box_solver::Box_solver(const Box_solver_options& options)
    : options_(options), cholesky_shift_(options.initial_cholesky_shift) {}

void Box_solver::solve(const Box_subproblem& p) {
  if (static_cast<int>(zeros_.size()) < p.size) zeros_.resize(p.size, 0.0);
  solve_in_box(p.size, p.x, zeros_.data(), p.upper, p.matrix, p.linear, p.tolerance);
}

void Box_solver::solve_in_box(int n, double* x, const double* lower, const double* upper,
                              const double* matrix, const double* linear, double tolerance) {
  Box_quadratic quadratic(matrix, linear, &evaluation_count_);
  Shifted_cholesky cholesky(&cholesky_shift_, options_);
  trust_region_solve(quadratic, cholesky, options_, n, x, lower, upper, tolerance);
}

}  // namespace tevra
