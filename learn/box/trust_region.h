// Trust-region Newton method for a quadratic over a box: the outer
// iteration of the box sub-problem solver.
#ifndef TEVRA_LEARN_BOX_TRUST_REGION_H_
#define TEVRA_LEARN_BOX_TRUST_REGION_H_

#include "learn/box/box_quadratic.h"
#include "learn/box/box_solver.h"
#include "learn/box/shifted_cholesky.h"

namespace tevra {

// Minimises f over lower <= x <= upper from x (inside the box), in place.
// Each iteration combines a projected Cauchy step with a subspace Newton
// step (factorising through cholesky), evaluates f once at the trial point,
// and accepts the trial when the actual decrease exceeds 1e-4 times the
// model's predicted decrease; the radius is adapted by testing the actual
// decrease against multiples of the predicted one. Returns silently once the
// projected gradient's infinity norm is at most gradient_tolerance times the
// initial gradient's 2-norm, or when actual and predicted decreases are
// within options.relative_f_tolerance*|f|; prints "CONVERGENCE: FATOL TEST
// SATISFIED\n" when both are within options.absolute_f_tolerance and
// "WARNING: F .LT. FMIN\n" when f drops below options.f_minimum. When the
// evaluation count exceeds options.max_evaluations it returns at once with x
// at the trial point just evaluated, accepted or not.
void trust_region_solve(Box_quadratic& f, Shifted_cholesky& cholesky,
                        const Box_solver_options& options, int n, double* x, const double* lower,
                        const double* upper, double gradient_tolerance);

}  // namespace tevra

#endif  // TEVRA_LEARN_BOX_TRUST_REGION_H_
