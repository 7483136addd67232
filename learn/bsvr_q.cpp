// BSVR_Q: the 2l x 2l signed matrix of regression, built from one cached
// l x l kernel matrix.
#include <algorithm>
#include <utility>

#include "learn/parallel.h"

#include "learn/q_matrices.h"

namespace tevra {

BSVR_Q::BSVR_Q(const Problem& problem, const Parameter& param)
    : Kernel(problem.sample_count, problem.samples, param),
      sample_count(problem.sample_count),
      // At least one buffer, so the rotation is defined even for a qpsize
      // that validation would refuse.
      buffer_count(std::max(param.qpsize, 1)),
      cache(*this, problem.sample_count, param),
      signs(new signed char[2 * static_cast<size_t>(sample_count) + 1]),
      sample_of(new int[2 * static_cast<size_t>(sample_count) + 1]),
      next_buffer(0),
      column_buffers(new float[static_cast<size_t>(buffer_count) * 2 * sample_count + 1]) {
  for (int p = 0; p < sample_count; ++p) {
    signs[p] = 1;
    signs[p + sample_count] = -1;
    sample_of[p] = p;
    sample_of[p + sample_count] = p;
  }
}

// Every fetch asks for the whole column of a sample: a cached one is
// complete.
void BSVR_Q::get_columns(const int* positions, int count, int len, const float** columns) {
  if (static_cast<int>(batch_samples.size()) < count) {
    batch_samples.resize(count);
    batch_sources.resize(count);
    batch_buffers.resize(count);
  }
  for (int k = 0; k < count; ++k) batch_samples[k] = sample_of[positions[k]];
  cache.get(batch_samples.data(), count, sample_count, columns,
            [](float* data, int, int t, double k) { data[t] = static_cast<float>(k) + 1.0f; });
  // The buffers are taken in call order, as count get_column calls take
  // them; the rows of every buffer are then filled on every thread.
  for (int k = 0; k < count; ++k) {
    batch_sources[k] = columns[k];
    batch_buffers[k] = &column_buffers[static_cast<size_t>(next_buffer) * 2 * sample_count];
    columns[k] = batch_buffers[k];
    next_buffer = (next_buffer + 1) % buffer_count;
  }
  parallel_for(len, static_cast<long long>(count) * len, [&](int begin, int end) {
    for (int k = 0; k < count; ++k) {
      float* const buffer = batch_buffers[k];
      const float* const column = batch_sources[k];
      const int sign_i = signs[positions[k]];
      for (int j = begin; j < end; ++j)
        buffer[j] = static_cast<float>(sign_i * signs[j]) * column[sample_of[j]];
    }
  });
}

// The cache and the Kernel part stay in sample order.
void BSVR_Q::swap_entries(int i, int j) {
  std::swap(signs[i], signs[j]);
  std::swap(sample_of[i], sample_of[j]);
}

}  // namespace tevra
