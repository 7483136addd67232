// ONE_CLASS_Q: the plain kernel matrix, for the Crammer and Singer solver.
#include "learn/column_cache.h"
#include "learn/q_matrix.h"

namespace tevra {

ONE_CLASS_Q::ONE_CLASS_Q(const Problem& problem, const Parameter& param)
    : Kernel(problem.sample_count, problem.samples, param),
      cache(problem.sample_count, cache_bytes(param), param.qpsize) {}

ONE_CLASS_Q::~ONE_CLASS_Q() = default;

const float* ONE_CLASS_Q::get_column(int i, int len) {
  const float* column;
  get_columns(&i, 1, len, &column);
  return column;
}

void ONE_CLASS_Q::get_columns(const int* positions, int count, int len, const float** columns) {
  fill_columns(cache, batch, positions, count, len, columns,
               [](float* data, int, int j, double k) { data[j] = static_cast<float>(k); });
}

void ONE_CLASS_Q::swap_entries(int i, int j) {
  cache.swap_positions(i, j);
  Kernel::swap_entries(i, j);
}

}  // namespace tevra
