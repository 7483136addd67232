// BONE_CLASS_Q: kernel matrix plus the constant 1 that carries the bias,
// for the single-problem multi-class solver.
#include "learn/q_matrix.h"

namespace tevra {

BONE_CLASS_Q::BONE_CLASS_Q(const Problem& problem, const Parameter& param)
    : Kernel(problem.sample_count, problem.samples, param),
      cache(problem.sample_count, cache_bytes(param), param.qpsize) {}

BONE_CLASS_Q::~BONE_CLASS_Q() = default;

const float* BONE_CLASS_Q::get_column(int i, int len) {
  const float* column;
  get_columns(&i, 1, len, &column);
  return column;
}

void BONE_CLASS_Q::get_columns(const int* positions, int count, int len,
                               const float** columns) {
  fill_columns(cache, batch, positions, count, len, columns,
               [](float* data, int, int j, double k) { data[j] = static_cast<float>(k) + 1.0f; });
}

}  // namespace tevra
