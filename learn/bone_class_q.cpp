// BONE_CLASS_Q: kernel matrix plus the constant 1 that carries the bias,
// for the single-problem multi-class solver.
#include "learn/q_matrices.h"

namespace tevra {

BONE_CLASS_Q::BONE_CLASS_Q(const Problem& problem, const Parameter& param)
    : Kernel(problem.sample_count, problem.samples, param),
      cache(*this, problem.sample_count, param) {}

void BONE_CLASS_Q::get_columns(const int* positions, int count, int len,
                               const float** columns) {
  cache.get(positions, count, len, columns,
            [](float* data, int, int j, double k) { data[j] = static_cast<float>(k) + 1.0f; });
}

}  // namespace tevra
