// The box-constrained quadratic sub-problem solver: a dense trust-region
// Newton method for
//   minimise 1/2 x'Ax + b'x subject to 0 <= x_i <= upper_i,
// the problem the decomposition solvers hand over for every working set.
// This is the one header of the learn/box library, which needs nothing but
// BLAS and LAPACK.
#ifndef TEVRA_LEARN_BOX_BOX_SOLVER_H_
#define TEVRA_LEARN_BOX_BOX_SOLVER_H_

#include <vector>

namespace tevra {

// Receives each of the solver's own messages, a whole line with its newline.
typedef void (*Box_message_function)(const char* text, void* context);

// Filled by a decomposition solver for one working set. The caller owns
// every array; the solver writes only x.
struct Box_subproblem {
  double tolerance;  // relative stopping tolerance on the projected gradient
  int size;          // n >= 1
  double* x;         // in: start inside the box; out: the solution
  double* upper;     // upper bounds; every lower bound is 0
  double* matrix;    // A, n*n column-major, both triangles stored
  double* linear;    // b
};

// Settings of a Box_solver. The defaults are those every decomposition
// solver uses.
struct Box_solver_options {
  // A trial whose actual and predicted decreases both lie within this
  // multiple of |f| ends the solve silently.
  double relative_f_tolerance = 1e-12;
  // Within this absolute amount they end it with "CONVERGENCE: FATOL TEST
  // SATISFIED\n". At 0 that is a trial that changes nothing.
  double absolute_f_tolerance = 0;
  // An objective below this ends the solve with "WARNING: F .LT. FMIN\n".
  double f_minimum = -1e32;
  // Objective evaluations per solve, one per trial point after the first.
  int max_evaluations = 1000;
  // The subspace step's conjugate gradients stop at this fraction of the
  // free gradient's norm.
  double cg_tolerance = 0.1;
  // First diagonal shift for blocks that are not positive definite:
  // 0.001 / 2^18.
  double initial_cholesky_shift = 0.001 / 262144.0;
  // Where the three messages go; null: straight to standard output.
  Box_message_function message = nullptr;
  void* message_context = nullptr;  // handed to message with every text
};

// Solves one sub-problem after another. Each solve starts afresh except for
// the diagonal shift of the shifted Cholesky factorisation: it doubles
// whenever even the shifted factorisation of a free-variable block fails and
// is never reset, so one object must serve every sub-problem of a training
// run (all its pairs and folds) for the run to give its specified results.
// One object is used by one thread at a time.
class Box_solver {
 public:
  Box_solver();
  explicit Box_solver(const Box_solver_options& options);
  Box_solver(const Box_solver&) = delete;
  Box_solver& operator=(const Box_solver&) = delete;

  // Solves p in place (p.x), from p.x, with every lower bound 0. The
  // tolerance is relative to the 2-norm of the starting gradient.
  void solve(const Box_subproblem& p);

  // The same over general bounds lower <= x <= upper (lower_i <= upper_i),
  // with A and b given directly.
  void solve_in_box(int n, double* x, const double* lower, const double* upper,
                    const double* matrix, const double* linear, double tolerance);

  // Objective evaluations of the last solve (0 before the first).
  int evaluation_count() const { return evaluation_count_; }

  // The diagonal shift the next failing factorisation will try.
  double cholesky_shift() const { return cholesky_shift_; }

 private:
  Box_solver_options options_;
  int evaluation_count_ = 0;
  double cholesky_shift_;
  std::vector<double> zeros_;  // lower bounds of solve, grown to the largest size met
};

}  // namespace tevra

#endif  // TEVRA_LEARN_BOX_BOX_SOLVER_H_
