// Solver_B_linear: Solver_B for the linear kernel, driven by an explicit
// primal weight vector instead of kernel columns.
#ifndef TEVRA_LEARN_SOLVER_B_LINEAR_H_
#define TEVRA_LEARN_SOLVER_B_LINEAR_H_

#include <vector>

#include "learn/solver_b.h"
#include "learn/tevra.h"

namespace tevra {

// Solves the same bound-constrained dual as Solver_B for
//   Q(i, j) = s_i s_j (x_i . x_j + 1),
// where every gradient entry follows from the dense primal vector
//   w = sum_j s_j alpha_j x_j,  bias = sum_j s_j alpha_j,
//   G_i = s_i (w . x_i + bias) + b_i.
// Uses Solver_B's loop schedule, selection, shrinking, deactivate and
// reactivate; the sub-problem matrix comes from sparse dot products and the
// whole active gradient is recomputed from w after every iteration (no
// columns, no cache, no bound gradient).
//
// Deviations from the plain design:
// - The bias has its own slot of w (w[bias_slot]) instead of sharing w[0]
//   with feature index 0, so data that uses index 0 trains exactly the dual
//   whose matrix the sub-problems are built from (and that prediction uses).
//   On data without index 0 the arithmetic is unchanged.
// - C_pos, C_neg, signs and linear_term are Solver_B's members (linear_term
//   pointing at this solver's own copy), so bound_of is inherited.
// - optimize returns its iteration count and does not print the final
//   "optimization finished" line: alpha seeding runs several solves in a row
//   and reports their total.
class Solver_B_linear : public Solver_B {
 public:
  using Solver_B::optimize;

  // Run over l variables. samples: l sample pointers (copied; nodes
  // borrowed); linear_term, signs: copied; alpha: start on entry, solution
  // in the caller's order on return; w: the caller's primal vector (feature
  // k at w[k], the bias at w[bias_slot]), which must match alpha on entry and
  // holds the final w on return. Returns the number of sub-problems solved.
  int optimize(int l, Node* const* samples, const double* linear_term, const signed char* signs,
               double* alpha, double* w, int bias_slot, double C_pos, double C_neg, double eps,
               Solve_result* result, int shrinking, int qpsize);

 protected:
  void swap_variables(int i, int j) override;
  void rebuild_gradient() override;

 private:
  // s_t (w . x_t + bias) + b_t, the sum accumulated in the sample's order.
  double gradient_from_w(int t) const;

  std::vector<double> own_linear_term;  // b, own copy (Solver_B::linear_term points here)
  double* w = nullptr;                  // primal vector, borrowed from the caller
  int bias_slot = 0;                    // index of the bias entry of w
  std::vector<const Node*> samples;     // sample of each position (nodes borrowed)
};

}  // namespace tevra

#endif  // TEVRA_LEARN_SOLVER_B_LINEAR_H_
