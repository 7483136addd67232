// The one-sample sub-problem of the Crammer and Singer duals, solved
// exactly. Solver_CS and the sequential dual method of the linear kernel
// both take their steps with it.
#ifndef TEVRA_LEARN_CRAMMER_SINGER_STEP_H_
#define TEVRA_LEARN_CRAMMER_SINGER_STEP_H_

namespace tevra {

// The minimiser a of
//   1/2 A |a|^2 + 1/2 d a_y^2 + B'a   over k values,
//   subject to sum(a) = 0, a_m <= 0 (m != y), a_y <= U,
// where U is the label's cost C_y (spoc, d = 0) or +inf (spoc_l2,
// d = 0.5 / C_y). For A > 0 the closed form of Crammer and Singer: sort,
// then a fixed-point walk (the label's entry stays out of the sort under
// spoc_l2, where it has its own weight A / (A + d)). For A <= 0 (a sample
// without curvature, or a kernel that is not positive semi-definite) the
// problem is taken as linear in the mass moved from the label to the most
// attractive other class, which keeps the step feasible and finite.
// sort_buffer holds k + 1 values; result receives the k values.
void solve_crammer_singer_step(double A, const double* B, int k, int y, double cost, double d,
                               double U, double* sort_buffer, double* result);

}  // namespace tevra

#endif  // TEVRA_LEARN_CRAMMER_SINGER_STEP_H_
