// Support_vector_columns: feature-major dot products with every support
// vector of a model.
#include "learn/sv_columns.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "learn/kernel.h"

namespace tevra {

namespace {

// Tiles pay off from this share of nonzero values on: below it the columns
// do less work than the rows of zeros the tiles would walk.
constexpr double kTileDensity = 0.25;

constexpr int kWidth = Support_vector_columns::kTileWidth;

bool all_finite(const Node* x) {
  for (; x->index != -1; ++x)
    if (!std::isfinite(x->value)) return false;
  return true;
}

// A tile is walked a stretch of this many features at a time (24 KiB of
// it), so that a batch of samples finds each stretch in the first-level
// cache.
constexpr int kStretchFeatures = 192;

// Adds to sums[c] the products of the entries [*x, end) whose index is
// below stop with the tile's rows, each sum taking its products in entry
// order, and moves *x past them. The width is fixed at compile time so that
// the sums stay in registers.
void add_tile_products(const Node** x, const Node* end, int stop, const double* tile,
                       double* sums) {
  double s[kWidth];
#pragma GCC unroll 16
  for (int c = 0; c < kWidth; ++c) s[c] = sums[c];
  const Node* p = *x;
  for (; p != end && p->index < stop; ++p) {
    const double* const row = tile + static_cast<std::size_t>(p->index) * kWidth;
    const double value = p->value;
#pragma GCC unroll 16
    for (int c = 0; c < kWidth; ++c) s[c] += value * row[c];
  }
#pragma GCC unroll 16
  for (int c = 0; c < kWidth; ++c) sums[c] = s[c];
  *x = p;
}

}  // namespace

bool Support_vector_columns::handles(const Node* x) {
  int last = -1;
  for (; x->index != -1; ++x) {
    if (x->index <= last) return false;
    last = x->index;
  }
  return true;
}

std::unique_ptr<Support_vector_columns> Support_vector_columns::build(const Model& model) {
  const int kernel_type = model.param.kernel_type;
  if (kernel_type != linear && kernel_type != polynomial && kernel_type != sigmoid) return nullptr;
  const int n = model.total_sv;
  if (n <= 0 || model.SV == nullptr) return nullptr;
  long long entries = 0;
  int largest = -1;
  bool finite = true;
  for (int s = 0; s < n; ++s) {
    if (!handles(model.SV[s])) return nullptr;
    for (const Node* x = model.SV[s]; x->index != -1; ++x) {
      largest = std::max(largest, x->index);
      finite = finite && std::isfinite(x->value);
      ++entries;
    }
  }

  // One column start per feature up to the largest index: where the indices
  // reach far beyond the support vectors' own entries (hashed features, a
  // few support vectors), the plain walk costs less than the copy.
  if (!dense_row_pays(static_cast<long long>(largest) + 2, entries)) return nullptr;

  auto copy = std::make_unique<Support_vector_columns>();
  copy->sv_count = n;
  copy->feature_count = largest + 1;
  const int features = copy->feature_count;
  copy->column_start.assign(static_cast<std::size_t>(features) + 1, 0);
  for (int s = 0; s < n; ++s)
    for (const Node* x = model.SV[s]; x->index != -1; ++x) ++copy->column_start[x->index + 1];
  for (int f = 0; f < features; ++f) copy->column_start[f + 1] += copy->column_start[f];
  copy->column_sv.resize(static_cast<std::size_t>(entries));
  copy->column_value.resize(static_cast<std::size_t>(entries));
  std::vector<int> next(copy->column_start.begin(), copy->column_start.end() - 1);
  for (int s = 0; s < n; ++s) {
    for (const Node* x = model.SV[s]; x->index != -1; ++x) {
      const int e = next[x->index]++;
      copy->column_sv[e] = s;
      copy->column_value[e] = x->value;
    }
  }

  const int tile_count = (n + kWidth - 1) / kWidth;
  const double cells = static_cast<double>(tile_count) * kWidth * features;
  if (finite && features > 0 && static_cast<double>(entries) >= kTileDensity * cells) {
    copy->tile_count = tile_count;
    copy->tiles.assign(static_cast<std::size_t>(cells), 0.0);
    for (int s = 0; s < n; ++s) {
      double* const tile = copy->tiles.data() + static_cast<std::size_t>(s / kWidth) * features * kWidth;
      for (const Node* x = model.SV[s]; x->index != -1; ++x)
        tile[static_cast<std::size_t>(x->index) * kWidth + s % kWidth] = x->value;
    }
  }
  return copy;
}

void Support_vector_columns::column_dots(const Node* x, double* dots) const {
  std::fill(dots, dots + sv_count, 0.0);
  for (; x->index != -1 && x->index < feature_count; ++x) {
    const double value = x->value;
    for (int e = column_start[x->index]; e < column_start[x->index + 1]; ++e)
      dots[column_sv[e]] += value * column_value[e];
  }
}

void Support_vector_columns::tile_dots(const Node* const* xs, const Node* const* ends,
                                       double* const* rows, int count) const {
  // Each sum takes its products in increasing feature order whatever the
  // nesting, as long as the stretches of one tile go in order for each
  // sample.
  std::vector<double> sums(static_cast<std::size_t>(count) * kWidth);
  std::vector<const Node*> cursors(count);
  for (int t = 0; t < tile_count; ++t) {
    const double* const tile = tiles.data() + static_cast<std::size_t>(t) * feature_count * kWidth;
    std::fill(sums.begin(), sums.end(), 0.0);
    std::copy(xs, xs + count, cursors.begin());
    for (int stop = kStretchFeatures;; stop += kStretchFeatures) {
      for (int b = 0; b < count; ++b)
        add_tile_products(&cursors[b], ends[b], stop, tile, &sums[static_cast<std::size_t>(b) * kWidth]);
      if (stop >= feature_count) break;
    }
    const int first = t * kWidth;
    const int width = std::min(kWidth, sv_count - first);
    for (int b = 0; b < count; ++b)
      std::copy(&sums[static_cast<std::size_t>(b) * kWidth],
                &sums[static_cast<std::size_t>(b) * kWidth] + width, rows[b] + first);
  }
}

void Support_vector_columns::dot_products(const Node* const* xs, double* const* rows,
                                          int count) const {
  // Samples with a value that is not finite take the columns: a tile's
  // zeros would turn it into NaN products where the merge walk adds none.
  std::vector<const Node*> dense;
  std::vector<const Node*> ends;
  std::vector<double*> dense_rows;
  for (int b = 0; b < count; ++b) {
    if (tiles.empty() || !all_finite(xs[b])) {
      column_dots(xs[b], rows[b]);
      continue;
    }
    // Features beyond every support vector's add nothing.
    const Node* end = xs[b];
    while (end->index != -1 && end->index < feature_count) ++end;
    dense.push_back(xs[b]);
    ends.push_back(end);
    dense_rows.push_back(rows[b]);
  }
  tile_dots(dense.data(), ends.data(), dense_rows.data(), static_cast<int>(dense.size()));
}

void index_support_vectors(Model* model) {
  delete model->sv_columns;
  model->sv_columns = Support_vector_columns::build(*model).release();
}

}  // namespace tevra
