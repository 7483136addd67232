#include "learn/box_quadratic.h"

#include <vector>

#include "learn/blas_lapack.h"
#include "learn/box_solver_state.h"

namespace tevra {

void set_current_quadratic(const double* matrix, const double* linear) {
  Box_solver_state& state = box_solver_state();
  state.matrix = matrix;
  state.linear = linear;
  state.evaluation_count = 0;
}

const double* quadratic_hessian() { return box_solver_state().matrix; }

void quadratic_gradient(int n, const double* x, double* g) {
  const Box_solver_state& state = box_solver_state();
  for (int i = 0; i < n; ++i) g[i] = state.linear[i];
  dsymv_upper(n, 1.0, state.matrix, x, 1.0, g);
}

int quadratic_value(int n, const double* x, double& f) {
  Box_solver_state& state = box_solver_state();
  std::vector<double> ax(n);
  dsymv_upper(n, 1.0, state.matrix, x, 0.0, ax.data());
  f = 0.5 * ddot(n, x, ax.data()) + ddot(n, state.linear, x);
  return ++state.evaluation_count;
}

}  // namespace tevra
