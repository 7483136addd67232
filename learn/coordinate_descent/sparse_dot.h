// The dot product of a sparse sample with a dense weight vector, as the
// coordinate-descent solvers take it.
#ifndef TEVRA_LEARN_COORDINATE_DESCENT_SPARSE_DOT_H_
#define TEVRA_LEARN_COORDINATE_DESCENT_SPARSE_DOT_H_

#include "learn/tevra.h"

namespace tevra {

// sum over the n nodes of x of w[index] * value, in four partial sums so
// that the additions do not wait on each other; they are combined in a
// fixed order, so the value is the same on every run. (The decomposition
// solvers keep the single sum of the plain walk; these solvers are free to
// choose theirs.)
inline double sparse_dot(const Node* x, int n, const double* w) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  int t = 0;
  for (; t + 4 <= n; t += 4) {
    s0 += w[x[t].index] * x[t].value;
    s1 += w[x[t + 1].index] * x[t + 1].value;
    s2 += w[x[t + 2].index] * x[t + 2].value;
    s3 += w[x[t + 3].index] * x[t + 3].value;
  }
  for (; t < n; ++t) s0 += w[x[t].index] * x[t].value;
  return (s0 + s1) + (s2 + s3);
}

// Nodes of x before its terminator.
inline int node_count(const Node* x) {
  int n = 0;
  while (x[n].index != -1) ++n;
  return n;
}

}  // namespace tevra

#endif  // TEVRA_LEARN_COORDINATE_DESCENT_SPARSE_DOT_H_
