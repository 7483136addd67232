// Projected Cauchy step of the box trust-region solver.
#ifndef TEVRA_LEARN_BOX_CAUCHY_STEP_H_
#define TEVRA_LEARN_BOX_CAUCHY_STEP_H_

namespace tevra {

// Step s = P[x - alpha*g] - x along the projected steepest-descent path that
// lies in the trust region (||s||_2 <= delta) and decreases the model
// q(s) = 1/2 s'As + g's by at least mu*g's, mu = 0.01. alpha is the entry
// length and on return the length used; the caller carries it to the next
// call. From the entry length the search either contracts by 0.1 until both
// tests pass, or, when the entry step already passes, extrapolates by 10 up
// to the last breakpoint while the tests keep passing, and then falls back
// to the length held before the final extrapolation; it also stops, keeping
// that length, when the next length would not be finite.
// The contraction also ends when alpha reaches 0, which matters only for a
// NaN radius: any finite one accepts the zero step there.
// A is n*n column-major, upper triangle read.
void cauchy_step(int n, const double* x, const double* l, const double* u, const double* A,
                 const double* g, double delta, double& alpha, double* s);

}  // namespace tevra

#endif  // TEVRA_LEARN_BOX_CAUCHY_STEP_H_
