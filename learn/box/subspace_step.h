// Newton step in the subspace of the free variables for the box
// trust-region solver.
#ifndef TEVRA_LEARN_BOX_SUBSPACE_STEP_H_
#define TEVRA_LEARN_BOX_SUBSPACE_STEP_H_

#include "learn/box/shifted_cholesky.h"

namespace tevra {

// On entry x is the iterate x_k, g its gradient and s the Cauchy step; on
// return x is the trial point and s the total step from x_k. Starting from
// the Cauchy point, each of at most n passes takes the variables strictly
// inside their bounds, factorises their block of A through cholesky,
// computes a direction by truncated_cg within delta and moves along it by
// projected_line_search. Ends when the model gradient over the free set
// falls to cg_tolerance times the free gradient norm at x_k, when the
// conjugate-gradient step reached the region's boundary, or when no
// variable is free. A is n*n column-major; both triangles are read.
void subspace_step(Shifted_cholesky& cholesky, int n, double* x, const double* l, const double* u,
                   const double* A, const double* g, double delta, double cg_tolerance, double* s);

// Moves x (m entries) along w inside the box [l, u]: backtracks by halves
// from the full step, while the length exceeds the first breakpoint, until
// q(p) = 1/2 p'Bp + r'p <= 0.01*r'p for the projected step p; a length that
// dropped below the first breakpoint is raised back to it. Then
// x = P[x + alpha*w] and w is replaced by the projected step p.
// B is m*m column-major, upper triangle read.
void projected_line_search(int m, double* x, const double* l, const double* u, const double* B,
                           const double* r, double* w);

}  // namespace tevra

#endif  // TEVRA_LEARN_BOX_SUBSPACE_STEP_H_
