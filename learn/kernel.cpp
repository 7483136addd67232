// Kernel formulas, member and static forms.
#include "learn/kernel.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

namespace tevra {

namespace {

// Batched columns share one block of at most this many doubles (4 MiB).
constexpr long long kDenseBlockLimit = 1 << 19;

}  // namespace

const Block_dots block_dots_of_width[kMaxBatchWidth + 1] = {
    nullptr,         nullptr,         block_dots<2>,   block_dots<3>,   block_dots<4>,
    block_dots<5>,   block_dots<6>,   block_dots<7>,   block_dots<8>,   block_dots<9>,
    block_dots<10>,  block_dots<11>,  block_dots<12>,  block_dots<13>,  block_dots<14>,
    block_dots<15>,  block_dots<16>};
static_assert(kMaxBatchWidth == 16, "block_dots_of_width lists every width");

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

double kernel_of_dot(double dot_product, const Parameter& param) {
  switch (param.kernel_type) {
    case polynomial:
      return polynomial_kernel(dot_product, param.gamma, param.coef0, param.degree);
    case sigmoid:
      return sigmoid_kernel(dot_product, param.gamma, param.coef0);
    default:
      return dot_product;
  }
}

double kernel_value(const Node* x, const Node* y, const Parameter& param) {
  switch (param.kernel_type) {
    case linear:
    case polynomial:
    case sigmoid:
      return kernel_of_dot(dot(x, y), param);
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
      return rbf_kernel(sum, param.gamma);
    }
    case precomputed:
      return x[static_cast<int>(y->value)].value;
    default:
      return 0;
  }
}

Kernel::Kernel(int count, Node* const* samples_in, const Parameter& param)
    : pair_kernel(nullptr),
      samples(nullptr),
      node_counts(nullptr),
      squared_norms(nullptr),
      kernel_type(param.kernel_type),
      degree(param.degree),
      gamma(param.gamma),
      coef0(param.coef0) {
  switch (kernel_type) {
    case linear:
      pair_kernel = &Kernel::dot_pair<linear>;
      break;
    case polynomial:
      pair_kernel = &Kernel::dot_pair<polynomial>;
      break;
    case rbf:
      pair_kernel = &Kernel::dot_pair<rbf>;
      break;
    case sigmoid:
      pair_kernel = &Kernel::dot_pair<sigmoid>;
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
  std::unique_ptr<int[]> own_counts(new int[count > 0 ? count : 1]);
  std::unique_ptr<double[]> own_norms;
  if (kernel_type == rbf) own_norms.reset(new double[count > 0 ? count : 1]);
  // Each sample's count, largest index and norm on its own: one pass over
  // every node, split between the threads. The nodes are not counted yet; a
  // training set of fewer than 16 nodes a sample is rare, and cheap either
  // way.
  int* const counts = own_counts.get();
  double* const norms = own_norms.get();
  std::vector<int> largest_index(count > 0 ? count : 0);
  parallel_for(count, 16LL * count, [&](int begin, int end) {
    for (int k = begin; k < end; ++k) {
      int n = 0;
      int largest = -1;
      for (; samples_in[k][n].index != -1; ++n) largest = std::max(largest, samples_in[k][n].index);
      counts[k] = n;
      largest_index[k] = largest;
      if (norms != nullptr) norms[k] = dot(samples_in[k], samples_in[k]);
    }
  });
  long long node_count = 0;
  long long max_index = -1;
  for (int k = 0; k < count; ++k) {
    node_count += counts[k];
    max_index = std::max<long long>(max_index, largest_index[k]);
  }
  if (count > 0) average_nodes = std::max(1LL, (node_count + count - 1) / count);

  const bool uses_dot = kernel_type == linear || kernel_type == polynomial || kernel_type == rbf ||
                        kernel_type == sigmoid;
  if (uses_dot) {
    const long long length = max_index + 1;
    if (dense_row_pays(length, node_count)) dense_row.assign(static_cast<size_t>(length), 0.0);
    if (!dense_row.empty())
      batch_width = static_cast<int>(std::clamp(kDenseBlockLimit / length, 1LL,
                                                static_cast<long long>(kMaxBatchWidth)));
    // Allocated here, not on first use: by the time columns are computed,
    // the cache has already handed out their storage, and an allocation
    // failing then would leave it holding columns never filled.
    if (batch_width > 1)
      dense_block.assign(dense_row.size() * static_cast<size_t>(batch_width), 0.0);
  }

  identity_rows.resize(count > 0 ? count : 0);
  for (int k = 0; k < count; ++k) identity_rows[k] = k;
  samples = own_samples.release();
  node_counts = own_counts.release();
  squared_norms = own_norms.release();
}

Kernel::~Kernel() {
  delete[] samples;
  delete[] node_counts;
  delete[] squared_norms;
}

void Kernel::swap_entries(int i, int j) {
  std::swap(samples[i], samples[j]);
  std::swap(node_counts[i], node_counts[j]);
  if (squared_norms != nullptr) std::swap(squared_norms[i], squared_norms[j]);
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

void Kernel::dense_dots4(const int* js, double* dots) const {
  const double* const row = dense_row.data();
  const Node* const a = samples[js[0]];
  const Node* const b = samples[js[1]];
  const Node* const c = samples[js[2]];
  const Node* const d = samples[js[3]];
  const int na = node_counts[js[0]];
  const int nb = node_counts[js[1]];
  const int nc = node_counts[js[2]];
  const int nd = node_counts[js[3]];
  const int shared = std::min(std::min(na, nb), std::min(nc, nd));
  double sa = 0, sb = 0, sc = 0, sd = 0;
  for (int t = 0; t < shared; ++t) {
    sa += row[a[t].index] * a[t].value;
    sb += row[b[t].index] * b[t].value;
    sc += row[c[t].index] * c[t].value;
    sd += row[d[t].index] * d[t].value;
  }
  for (int t = shared; t < na; ++t) sa += row[a[t].index] * a[t].value;
  for (int t = shared; t < nb; ++t) sb += row[b[t].index] * b[t].value;
  for (int t = shared; t < nc; ++t) sc += row[c[t].index] * c[t].value;
  for (int t = shared; t < nd; ++t) sd += row[d[t].index] * d[t].value;
  dots[0] = sa;
  dots[1] = sb;
  dots[2] = sc;
  dots[3] = sd;
}

}  // namespace tevra
