// Solver_B: decomposition solver of the bound-constrained duals
//   minimise 1/2 a'Qa + b'a subject to 0 <= a_i <= C_i,
// with working sets of at most qpsize variables solved by the box
// sub-problem solver, and shrinking. Solver_B_linear and Solver_MB derive
// from it and reuse its loop schedule, selection and shrinking.
#ifndef TEVRA_LEARN_SOLVER_B_H_
#define TEVRA_LEARN_SOLVER_B_H_

#include "learn/kernel.h"

namespace tevra {

// Result of one optimize run, filled by the solver.
struct Solve_result {
  double objective;  // final value of the dual objective
  double* bounds;    // upper bounds of the run (malloc'ed; caller frees)
};

// State of a variable relative to its box.
enum class Bound_state : unsigned char { at_lower = 0, at_upper = 1, free = 2 };

class Solver_B {
 public:
  Solver_B() = default;
  virtual ~Solver_B() = default;
  Solver_B(const Solver_B&) = delete;
  Solver_B& operator=(const Solver_B&) = delete;

  // Kernel-based run over l variables. linear_term is borrowed and left
  // permuted; signs and alpha are copied; alpha returns the solution in the
  // caller's order.
  virtual void optimize(int l, Kernel& q_matrix, double* linear_term, const signed char* signs,
                        double* alpha, double C_pos, double C_neg, double eps,
                        Solve_result* result, int shrinking, int qpsize);

 protected:
  virtual double bound_of(int i) const;
  virtual void swap_variables(int i, int j);
  virtual void rebuild_gradient();
  virtual void deactivate(int i);
  virtual void reactivate(int i);

  // TODO(Solver_B owner): choose_working_set, shrink, the shared loop
  // schedule, and the members (active_count, gradient, bound_state, alpha,
  // q_matrix, eps, position_map, bound_gradient, var_count, reactivated,
  // qpsize, working_set, previous_working_set, C_pos, C_neg, linear_term,
  // signs).
};

}  // namespace tevra

#endif  // TEVRA_LEARN_SOLVER_B_H_
