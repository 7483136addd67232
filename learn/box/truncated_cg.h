// Preconditioned truncated conjugate gradient for the trust-region model of
// the free variables.
#ifndef TEVRA_LEARN_BOX_TRUNCATED_CG_H_
#define TEVRA_LEARN_BOX_TRUNCATED_CG_H_

namespace tevra {

// How truncated_cg ended.
enum Cg_outcome {
  residual_small = 1,         // ||res||_2 <= tol, or initial scaled residual <= stol
  scaled_residual_small = 2,  // ||z||_2 <= stol after a step
  negative_curvature = 3,     // d'(inv(L) B inv(L') d) <= 0; stepped to the boundary
  boundary = 4,               // the step would leave the region; stepped to the boundary
  iteration_limit = 5,        // m iterations without another outcome
};

// Approximately minimises 1/2 p'Bp + r'p over ||L'p||_2 <= delta by
// conjugate gradients in the scaled variables w = L'p (preconditioner L L',
// the Cholesky factor of B or of B plus a shift). Returns the outcome and
// the scaled step in w; the caller converts it back with inv(L').
// B is m*m column-major (upper triangle read), L its lower-triangular factor
// (lower triangle read). At most m iterations.
Cg_outcome truncated_cg(int m, const double* B, const double* r, double delta, const double* L,
                        double tol, double stol, double* w);

// The non-negative sigma with ||w + sigma*d||_2 = delta for w inside the
// region, computed in the form that avoids cancellation for either sign of
// d'w; 0 when there is no positive root.
double boundary_step_length(int m, const double* w, const double* d, double delta);

}  // namespace tevra

#endif  // TEVRA_LEARN_BOX_TRUNCATED_CG_H_
