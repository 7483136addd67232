// Operations on the box l <= x <= u shared by the Cauchy step and the
// projected line search of the box sub-problem solver. Vectors have n
// entries; l_i <= u_i.
#ifndef TEVRA_LEARN_BOX_BOX_PROJECTION_H_
#define TEVRA_LEARN_BOX_BOX_PROJECTION_H_

namespace tevra {

// x_i = max(l_i, min(x_i, u_i)): the upper clip first, then the lower.
void project_onto_box(int n, double* x, const double* l, const double* u);

// s = P[x + alpha*w] - x, except that a coordinate whose move stays inside
// its interval gets exactly alpha*w_i rather than the rounded difference
// (x_i + alpha*w_i) - x_i. A move that lands exactly on a bound counts as
// inside.
void projected_step(int n, const double* x, const double* l, const double* u, double alpha,
                    const double* w, double* s);

// Step lengths along w at which the coordinates that can move reach their
// bounds: count of them, the smallest (first) and the largest (last); both
// are 0 when no coordinate can move.
void find_breakpoints(int n, const double* x, const double* l, const double* u, const double* w,
                      int& count, double& first, double& last);

// Infinity norm of the projected gradient: the largest |g_i| over the
// coordinates that can move (not fixed by l_i = u_i, not at a bound with
// g_i pushing outward); 0 if none can. Bound tests are exact equalities.
double projected_gradient_norm(int n, const double* x, const double* l, const double* u,
                               const double* g);

}  // namespace tevra

#endif  // TEVRA_LEARN_BOX_BOX_PROJECTION_H_
