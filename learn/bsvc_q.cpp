// BSVC_Q: signed kernel matrix plus 1, for two-class classification.
#include <algorithm>
#include <utility>

#include "learn/q_matrices.h"

namespace tevra {

BSVC_Q::BSVC_Q(const Problem& problem, const Parameter& param, const signed char* signs_in)
    : Kernel(problem.sample_count, problem.samples, param),
      signs(new signed char[problem.sample_count > 0 ? problem.sample_count : 1]),
      cache(*this, problem.sample_count, param) {
  std::copy(signs_in, signs_in + problem.sample_count, signs.get());
}

void BSVC_Q::get_columns(const int* positions, int count, int len, const float** columns) {
  const signed char* const row_signs = signs.get();
  cache.get(positions, count, len, columns, [row_signs](float* data, int i, int j, double k) {
    const float sign_product = static_cast<float>(row_signs[i]) * static_cast<float>(row_signs[j]);
    data[j] = static_cast<float>((k + 1) * static_cast<double>(sign_product));
  });
}

void BSVC_Q::swap_entries(int i, int j) {
  cache.swap_positions(i, j);
  Kernel::swap_entries(i, j);
  std::swap(signs[i], signs[j]);
}

}  // namespace tevra
