// Entry point of the dense box-constrained quadratic sub-problem solver:
//   minimise 1/2 x'Ax + b'x subject to 0 <= x_i <= upper_i.
#ifndef TEVRA_LEARN_BOX_SUBPROBLEM_H_
#define TEVRA_LEARN_BOX_SUBPROBLEM_H_

namespace tevra {

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

// Solves p in place (p.x). Reports nothing; may print the solver's messages.
void solve_box_subproblem(const Box_subproblem& p);

}  // namespace tevra

#endif  // TEVRA_LEARN_BOX_SUBPROBLEM_H_
