// Training routine of the Crammer and Singer formulations (spoc, spoc_l2):
// one problem over all classes, solved by Solver_CS on the plain kernel
// (no constant 1 is added: these formulations have no bias), or under -a 1
// by the sequential dual method over an explicit weight matrix.
#include <cstdlib>
#include <vector>

#include "learn/coordinate_descent/sequential_dual.h"
#include "learn/q_matrices.h"
#include "learn/solver_cs.h"
#include "learn/training_routines.h"

namespace tevra {

double* train_crammer_singer(Training_run& run, const Problem& problem, const Parameter& param,
                             int nr_class, const double* class_C, int svm_type) {
  const int l = problem.sample_count;
  const std::size_t count = static_cast<std::size_t>(l) * static_cast<std::size_t>(nr_class);
  // One extra element keeps the allocation non-empty for an empty problem.
  Malloced_array<double> coefficients(
      static_cast<double*>(std::calloc(count + 1, sizeof(double))));

  // Class indices are kept in full ints: 16 bits would wrap beyond 32767
  // classes and index outside the per-class arrays.
  std::vector<int> class_index(l);
  for (int i = 0; i < l; ++i) class_index[i] = static_cast<int>(problem.labels[i]);

  double objective;
  if (param.algorithm == 1) {
    Sequential_dual_crammer_singer solver(run.progress);
    objective = solver.solve(l, problem.samples, coefficients.get(), class_index.data(), class_C,
                             param.eps, param.shrinking, nr_class, svm_type);
  } else {
    ONE_CLASS_Q q_matrix(problem, param);
    Solver_CS solver(run.progress);
    objective = solver.solve(l, q_matrix, coefficients.get(), class_index.data(), class_C,
                             param.eps, param.shrinking, nr_class, svm_type);
  }
  require_finite_solution(objective, coefficients.get(), count);
  return coefficients.release();
}

}  // namespace tevra
