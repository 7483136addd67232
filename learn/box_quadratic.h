// Evaluation of the quadratic f(x) = 1/2 x'Ax + b'x that the box
// sub-problem solver is currently minimising (Box_solver_state).
#ifndef TEVRA_LEARN_BOX_QUADRATIC_H_
#define TEVRA_LEARN_BOX_QUADRATIC_H_

namespace tevra {

// Makes A (n*n column-major, both triangles stored) and b the current
// quadratic and resets the evaluation counter. Both stay borrowed until the
// next call.
void set_current_quadratic(const double* matrix, const double* linear);

// The Hessian, which is A itself: referenced, never copied.
const double* quadratic_hessian();

// g = b + Ax (b copied into g, then dsymv with the upper triangle).
void quadratic_gradient(int n, const double* x, double* g);

// f = 1/2 x'(Ax) + b'x. Counts the evaluation and returns the new count.
int quadratic_value(int n, const double* x, double& f);

}  // namespace tevra

#endif  // TEVRA_LEARN_BOX_QUADRATIC_H_
