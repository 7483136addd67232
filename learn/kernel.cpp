// Kernel formulas, member and static forms.
#include "learn/kernel.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

namespace tevra {

namespace {

// A dense row of up to this many doubles (8 MiB) is always acceptable...
constexpr long long kDenseRowFloor = 1 << 20;
// ...and beyond that only while it is no larger than the samples' own nodes
// (16 bytes each), so hashed or sparse huge indices keep the merge walk.
constexpr long long kDenseRowPerNode = 2;

}  // namespace

double dot(const Node* x, const Node* y) {
  double sum = 0;
  while (x->index != -1 && y->index != -1) {
    if (x->index == y->index) {
      sum += x->value * y->value;
      ++x;
      ++y;
    } else if (x->index > y->index) {
      ++y;
    } else {
      ++x;
    }
  }
  return sum;
}

double kernel_value(const Node* x, const Node* y, const Parameter& param) {
  switch (param.kernel_type) {
    case linear:
      return dot(x, y);
    case polynomial:
      return integer_power(param.gamma * dot(x, y) + param.coef0, param.degree);
    case rbf: {
      // Squared distance by one merge walk, not from squared norms.
      double sum = 0;
      while (x->index != -1 && y->index != -1) {
        if (x->index == y->index) {
          const double d = x->value - y->value;
          sum += d * d;
          ++x;
          ++y;
        } else if (x->index > y->index) {
          sum += y->value * y->value;
          ++y;
        } else {
          sum += x->value * x->value;
          ++x;
        }
      }
      for (; x->index != -1; ++x) sum += x->value * x->value;
      for (; y->index != -1; ++y) sum += y->value * y->value;
      return std::exp(-(sum * param.gamma));
    }
    case sigmoid:
      return std::tanh(param.gamma * dot(x, y) + param.coef0);
    case precomputed:
      return x[static_cast<int>(y->value)].value;
    default:
      return 0;
  }
}

Kernel::Kernel(int count, Node* const* samples_in, const Parameter& param)
    : pair_kernel(nullptr),
      samples(nullptr),
      squared_norms(nullptr),
      kernel_type(param.kernel_type),
      degree(param.degree),
      gamma(param.gamma),
      coef0(param.coef0) {
  switch (kernel_type) {
    case linear:
      pair_kernel = &Kernel::linear_pair;
      break;
    case polynomial:
      pair_kernel = &Kernel::polynomial_pair;
      break;
    case rbf:
      pair_kernel = &Kernel::rbf_pair;
      break;
    case sigmoid:
      pair_kernel = &Kernel::sigmoid_pair;
      break;
    case precomputed:
      pair_kernel = &Kernel::precomputed_pair;
      break;
    default:  // refused by check_parameters; 0, as kernel_value gives
      pair_kernel = &Kernel::unknown_pair;
      break;
  }

  // Owned through unique_ptr until construction cannot fail any more.
  std::unique_ptr<Node*[]> own_samples(new Node*[count > 0 ? count : 1]);
  std::copy(samples_in, samples_in + count, own_samples.get());
  std::unique_ptr<double[]> own_norms;
  if (kernel_type == rbf) {
    own_norms.reset(new double[count > 0 ? count : 1]);
    for (int k = 0; k < count; ++k) own_norms[k] = dot(samples_in[k], samples_in[k]);
  }

  const bool uses_dot = kernel_type == linear || kernel_type == polynomial || kernel_type == rbf ||
                        kernel_type == sigmoid;
  if (uses_dot) {
    long long max_index = -1;
    long long node_count = 0;
    for (int k = 0; k < count; ++k) {
      for (const Node* x = samples_in[k]; x->index != -1; ++x) {
        max_index = std::max<long long>(max_index, x->index);
        ++node_count;
      }
    }
    const long long length = max_index + 1;
    if (length > 0 && (length <= kDenseRowFloor || length <= kDenseRowPerNode * node_count))
      dense_row.assign(static_cast<size_t>(length), 0.0);
  }

  samples = own_samples.release();
  squared_norms = own_norms.release();
}

Kernel::~Kernel() {
  delete[] samples;
  delete[] squared_norms;
}

void Kernel::swap_entries(int i, int j) {
  std::swap(samples[i], samples[j]);
  if (squared_norms != nullptr) std::swap(squared_norms[i], squared_norms[j]);
}

double Kernel::linear_pair(int i, int j) const { return dot(samples[i], samples[j]); }

double Kernel::polynomial_pair(int i, int j) const {
  return integer_power(gamma * dot(samples[i], samples[j]) + coef0, degree);
}

double Kernel::rbf_pair(int i, int j) const {
  return std::exp(
      -((squared_norms[i] + squared_norms[j] - 2 * dot(samples[i], samples[j])) * gamma));
}

double Kernel::sigmoid_pair(int i, int j) const {
  return std::tanh(gamma * dot(samples[i], samples[j]) + coef0);
}

// Entry m of sample i holds its kernel value with the sample of serial m;
// serials are stored as values, so they are truncated.
double Kernel::precomputed_pair(int i, int j) const {
  return samples[i][static_cast<int>(samples[j][0].value)].value;
}

double Kernel::unknown_pair(int, int) const { return 0; }

void Kernel::scatter(const Node* x) {
  for (; x->index != -1; ++x) dense_row[x->index] = x->value;
}

void Kernel::clear(const Node* x) {
  for (; x->index != -1; ++x) dense_row[x->index] = 0;
}

}  // namespace tevra
