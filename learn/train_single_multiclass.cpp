// train_single_multiclass: the kbb formulation, all classes trained at once
// as one bound-constrained problem solved by Solver_MB.
#include <climits>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "learn/q_matrices.h"
#include "learn/solver_mb.h"
#include "learn/training_routines.h"

namespace tevra {

double* train_single_multiclass(Training_run& run, const Problem& problem, const Parameter& param,
                                int nr_class, const double* class_C, const int* class_sizes) {
  const int l = problem.sample_count;
  // A single class leaves no competing class and so no variable; the solver
  // derives the samples per block by dividing by nr_class - 1, so it is
  // not run at all. The solver indexes variables and its nr_class^2 + 1
  // block starts with ints.
  const long long variables = nr_class >= 2 ? static_cast<long long>(nr_class - 1) * l : 0;
  if (variables > INT_MAX || static_cast<long long>(nr_class) * nr_class + 1 > INT_MAX)
    throw Training_failure{
        "too many classes for kbb: (nr_class - 1) * l variables and nr_class^2 + 1 blocks must "
        "each stay within 2147483647"};
  const int n = static_cast<int>(variables);

  // Never null, even without variables, so the caller can free it as usual.
  Malloced_array<double> alpha(static_cast<double*>(std::calloc(n > 0 ? n : 1, sizeof(double))));

  // Variables in blocks: block j lists every sample not of class j, class by
  // class; each records the class of its sample.
  std::vector<int> own_class(n);
  int v = 0;
  for (int j = 0; j < nr_class && n > 0; ++j) {
    int first = 0;
    for (int k = 0; k < nr_class; ++k) {
      const int end = first + class_sizes[k];
      if (k != j) {
        for (int s = first; s < end; ++s)
          own_class[v++] = static_cast<int>(problem.labels[s]);
      }
      first = end;
    }
  }

  Solve_result result{0, nullptr};
  if (n > 0) {
    BONE_CLASS_Q q_matrix(problem, param);
    Solver_MB solver(run.box_solver, run.progress);
    solver.optimize(n, q_matrix, -2.0, alpha.get(), own_class.data(), class_C, 2 * param.eps, &result,
                    param.shrinking, param.qpsize, nr_class, class_sizes);
  }

  log_info(run.progress, "obj = %f, rho = %f\n", result.objective, 0.0);

  // Counted per variable: one sample can contribute up to nr_class - 1.
  int sv_count = 0;
  int bounded_count = 0;
  for (int i = 0; i < n; ++i) {
    if (std::fabs(alpha[i]) > 0) {
      ++sv_count;
      if (std::fabs(alpha[i]) >= result.bounds[own_class[i]]) ++bounded_count;
    }
  }
  log_info(run.progress, "nSV = %d, nBSV = %d\n", sv_count, bounded_count);

  std::free(result.bounds);
  require_finite_solution(result.objective, alpha.get(), static_cast<std::size_t>(n));
  return alpha.release();
}

}  // namespace tevra
