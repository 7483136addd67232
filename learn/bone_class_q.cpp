// BONE_CLASS_Q: kernel matrix plus the constant 1 that carries the bias,
// for the single-problem multi-class solver.
#include "learn/q_matrix.h"

namespace tevra {

BONE_CLASS_Q::BONE_CLASS_Q(const Problem& problem, const Parameter& param)
    : Kernel(problem.sample_count, problem.samples, param),
      cache(problem.sample_count, cache_bytes(param), param.qpsize) {}

BONE_CLASS_Q::~BONE_CLASS_Q() = default;

const float* BONE_CLASS_Q::get_column(int i, int len) {
  int filled;
  float* data = cache.fetch(i, len, &filled);
  if (filled < len) {
    kernel_column(i, filled, len,
                  [data](int j, double k) { data[j] = static_cast<float>(k) + 1.0f; });
  }
  return data;
}

void BONE_CLASS_Q::get_columns(const int* positions, int count, int len,
                               const float** columns) {
  const int misses = batch.fetch(cache, positions, count, len, columns);
  float* const* const data = batch.data.data();
  kernel_columns(batch.rows.data(), batch.begins.data(), misses, len,
                 [data](int k, int j, double value) {
                   data[k][j] = static_cast<float>(value) + 1.0f;
                 });
}

}  // namespace tevra
