// Cholesky factorisation of a free-variable block with a carried diagonal
// shift for blocks that are not positive definite.
#ifndef TEVRA_LEARN_BOX_SHIFTED_CHOLESKY_H_
#define TEVRA_LEARN_BOX_SHIFTED_CHOLESKY_H_

#include "learn/box/box_solver.h"

namespace tevra {

// Factorises blocks with LAPACK dpotf2, retrying a block that is not
// positive definite on B + shift*I. The shift belongs to the Box_solver
// that carries it from one factorisation to the next; this object only
// borrows it for one solve, and grows it.
class Shifted_cholesky {
 public:
  // *shift is borrowed; options say where the failure message goes.
  Shifted_cholesky(double* shift, const Box_solver_options& options);

  // Factorises the m*m block B (column-major, lower triangle read) into the
  // lower triangle of L. When B + shift*I fails too, prints "A is not
  // positive semi-definite\n", doubles the shift and leaves L as the failed
  // attempt left it: columns before the failing pivot factorised, the
  // failing diagonal entry holding the non-positive pivot. Returns the
  // shift added (0 when none), or the doubled shift after a failure.
  double factorize(int m, const double* B, double* L);

 private:
  double* shift_;
  const Box_solver_options& options_;
};

}  // namespace tevra

#endif  // TEVRA_LEARN_BOX_SHIFTED_CHOLESKY_H_
