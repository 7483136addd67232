// Trust-region Newton method for the current quadratic (box_quadratic.h)
// over a box.
#ifndef TEVRA_LEARN_TRUST_REGION_H_
#define TEVRA_LEARN_TRUST_REGION_H_

namespace tevra {

// Minimises the current quadratic over lower <= x <= upper from x (inside
// the box), in place. Each iteration combines a projected Cauchy step with
// a subspace Newton step, evaluates f once at the trial point, and accepts
// the trial when the actual decrease exceeds 1e-4 times the model's
// predicted decrease; the radius is adapted by testing the actual decrease
// against multiples of the predicted one. Returns silently once the
// projected gradient's infinity norm is at most gradient_tolerance times the
// initial gradient's 2-norm, or when actual and predicted decreases are
// within relative_f_tolerance*|f|; prints "CONVERGENCE: FATOL TEST
// SATISFIED\n" when both are within absolute_f_tolerance and "WARNING: F
// .LT. FMIN\n" when f drops below f_minimum. When the evaluation count
// exceeds max_evaluations it returns at once with x at the trial point just
// evaluated, accepted or not.
void trust_region_solve(int n, double* x, const double* lower, const double* upper,
                        double gradient_tolerance, double relative_f_tolerance,
                        double absolute_f_tolerance, double f_minimum, int max_evaluations,
                        double cg_tolerance);

}  // namespace tevra

#endif  // TEVRA_LEARN_TRUST_REGION_H_
