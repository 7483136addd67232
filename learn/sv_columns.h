// Support_vector_columns: a model's support vectors copied feature by
// feature, so that the dot products of a test sample with all of them take
// one walk over the sample's own entries instead of one merge walk per
// support vector.
#ifndef TEVRA_LEARN_SV_COLUMNS_H_
#define TEVRA_LEARN_SV_COLUMNS_H_

#include <memory>
#include <vector>

#include "learn/tevra.h"

namespace tevra {

// The merge walk of dot(x, sv) adds x_f * sv_f over the features both have,
// in increasing f, to a sum that starts at +0. Walking the entries of x in
// increasing f and adding x_f * sv_f to the sum of every support vector that
// has feature f hands each sum exactly those terms in that order, so every
// dot product keeps its bits. Two layouts hold the copy:
// - columns: for each feature, the support vectors that have it and their
//   values (always present);
// - tiles, where the support vectors are dense: groups of kTileWidth support
//   vectors side by side, one row of kTileWidth values per feature, 0 where a
//   support vector lacks the feature. A row's products advance kTileWidth
//   sums at once. The zeros add exact zeros (the sample's values and the
//   support vectors' must be finite for that), and adding +0 or -0 changes no
//   sum that started at +0, so the tiles give the same bits as the columns.
//   A batch of samples walks each tile while it stays in cache.
// Built once per model (load_model_file, or index_support_vectors); it
// reads nothing of the model afterwards, so the model's support vectors
// must not change while the copy is in use.
struct Support_vector_columns {
  static constexpr int kTileWidth = 16;

  // The copy of model's support vectors, or null when the kernel is not a
  // function of dot products (rbf and precomputed keep the plain walk), or
  // when a support vector's indices are negative or not strictly increasing
  // (the merge walk then adds other terms than the copy would), or when the
  // largest index reaches far beyond the support vectors' entries (a column
  // start per feature would outweigh the walk it saves).
  static std::unique_ptr<Support_vector_columns> build(const Model& model);

  // Whether sample x can be handled: indices from 0, strictly increasing.
  static bool handles(const Node* x);

  // Dot products of samples xs[0..count-1] (each one handled) with every
  // support vector: rows[b][s] = dot(xs[b], SV[s]).
  void dot_products(const Node* const* xs, double* const* rows, int count) const;

  int sv_count = 0;       // support vectors
  int feature_count = 0;  // one past the largest index of any support vector

  // Columns: the entries of feature f are column_start[f] to
  // column_start[f + 1] - 1, support vectors in increasing order.
  std::vector<int> column_start;
  std::vector<int> column_sv;
  std::vector<double> column_value;

  // Tiles (empty when the support vectors are sparse): tile t holds support
  // vectors t * kTileWidth onwards, value of feature f of the c-th of them at
  // tiles[(t * feature_count + f) * kTileWidth + c].
  int tile_count = 0;
  std::vector<double> tiles;

 private:
  // dots[s] = dot(x, SV[s]) from the columns.
  void column_dots(const Node* x, double* dots) const;
  // Entries [xs[b], ends[b]) of each sample against every tile, into
  // rows[b][0 .. sv_count-1].
  void tile_dots(const Node* const* xs, const Node* const* ends, double* const* rows,
                 int count) const;
};

}  // namespace tevra

#endif  // TEVRA_LEARN_SV_COLUMNS_H_
