// Process-wide state of the box sub-problem solver: the quadratic being
// solved, its evaluation counter, and the diagonal shift of the shifted
// Cholesky factorisation. One solve runs at a time.
#ifndef TEVRA_LEARN_BOX_SOLVER_STATE_H_
#define TEVRA_LEARN_BOX_SOLVER_STATE_H_

namespace tevra {

// Initial diagonal shift: 0.001 / 2^18.
constexpr double initial_cholesky_shift = 0.001 / 262144.0;

struct Box_solver_state {
  // A of the current quadratic, n*n column-major; borrowed from the caller
  // for the duration of one solve.
  const double* matrix = nullptr;
  // b of the current quadratic; borrowed likewise.
  const double* linear = nullptr;
  // Objective evaluations in the current solve; reset by every solve.
  int evaluation_count = 0;
  // Shift added to the diagonal of a free-variable block whose plain
  // factorisation fails. Doubled whenever the shifted factorisation fails
  // too, and never reset, so it carries over to every later solve.
  double cholesky_shift = initial_cholesky_shift;
};

// The single instance.
Box_solver_state& box_solver_state();

}  // namespace tevra

#endif  // TEVRA_LEARN_BOX_SOLVER_STATE_H_
