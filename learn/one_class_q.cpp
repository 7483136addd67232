// ONE_CLASS_Q: the plain kernel matrix, for the Crammer and Singer solver.
#include "learn/q_matrices.h"

namespace tevra {

ONE_CLASS_Q::ONE_CLASS_Q(const Problem& problem, const Parameter& param)
    : Kernel(problem.sample_count, problem.samples, param),
      cache(*this, problem.sample_count, param) {}

void ONE_CLASS_Q::get_columns(const int* positions, int count, int len, const float** columns) {
  cache.get(positions, count, len, columns,
            [](float* data, int, int j, double k) { data[j] = static_cast<float>(k); });
}

void ONE_CLASS_Q::swap_entries(int i, int j) {
  cache.swap_positions(i, j);
  Kernel::swap_entries(i, j);
}

}  // namespace tevra
