// Solver_B_linear: the run of the linear kernel over an explicit w.
#include "learn/solver_b_linear.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <utility>

namespace tevra {

namespace {

// See Solver_B: smaller changes are dropped.
constexpr double negligible_change = 1e-12;

template <typename T>
void release(std::vector<T>& v) {
  std::vector<T>().swap(v);
}

}  // namespace

double Solver_B_linear::gradient_from_w(int t) const {
  const double* wt = weights.data();
  double sum = 0;
  for (const Node* x = samples[t]; x->index != -1; ++x) sum += wt[x->index] * x->value;
  return signs[t] * (sum + wt[bias_slot]) + linear_term[t];
}

void Solver_B_linear::swap_variables(int i, int j) {
  std::swap(signs[i], signs[j]);
  swap_shared_entries(i, j);
  std::swap(linear_term[i], linear_term[j]);
  std::swap(samples[i], samples[j]);
  std::swap(sample_length[i], sample_length[j]);
  rows_stale = true;
}

void Solver_B_linear::rebuild_gradient() {
  for (int t = active_count; t < var_count; ++t) gradient[t] = gradient_from_w(t);
}

void Solver_B_linear::pack_active_rows() {
  rows_stale = false;
  rows_active = active_count;

  // Longest rows first; positions that share a sample end up adjacent.
  row_positions.resize(active_count);
  for (int p = 0; p < active_count; ++p) row_positions[p] = p;
  std::sort(row_positions.begin(), row_positions.end(), [this](int a, int b) {
    if (sample_length[a] != sample_length[b]) return sample_length[a] > sample_length[b];
    return std::less<const Node*>()(samples[a], samples[b]);
  });
  row_first.clear();
  pack_rows.clear();
  pack_lengths.clear();
  for (int k = 0; k < active_count; ++k) {
    const int p = row_positions[k];
    if (k > 0 && samples[p] == samples[row_positions[k - 1]]) continue;
    row_first.push_back(k);
    pack_rows.push_back(samples[p]);
    pack_lengths.push_back(sample_length[p]);
  }
  const int rows = static_cast<int>(pack_rows.size());
  active_rows.pack(pack_rows.data(), pack_lengths.data(), rows, zero_slot);
  row_first.resize(static_cast<size_t>(active_rows.group_count()) * lanes + 1, active_count);
}

void Solver_B_linear::refresh_active_gradient() {
  if (rows_stale || rows_active != active_count) pack_active_rows();
  const double* wt = weights.data();
  const double bias = wt[bias_slot];
  double sums[lanes];
  for (int g = 0; g < active_rows.group_count(); ++g) {
    active_rows.group_dots(wt, g, sums);
    for (int c = 0; c < lanes; ++c) {
      const int r = g * lanes + c;
      for (int k = row_first[r]; k < row_first[r + 1]; ++k) {
        const int t = row_positions[k];
        gradient[t] = signs[t] * (sums[c] + bias) + linear_term[t];
      }
    }
  }
}

void Solver_B_linear::fill_sub_matrix(int count) {
  double* M = sub_matrix.data();
  double* dense = dense_sample.data();
  const int* B = working_set.data();
  pack_rows.resize(count);
  pack_lengths.resize(count);
  for (int k = 0; k < count; ++k) {
    pack_rows[k] = samples[B[k]];
    pack_lengths[k] = sample_length[B[k]];
  }
  working_rows.pack(pack_rows.data(), pack_lengths.data(), count, zero_slot);

  // The merge walk of a sparse dot product adds x_f y_f over the common
  // features in increasing f; walking y over the scattered x adds the same
  // products in the same order, plus exact zeros for the features x lacks
  // (feature values are finite).
  double sums[lanes];
  for (int k = 0; k < count; ++k) {
    const int i = B[k];
    for (const Node* x = samples[i]; x->index != -1; ++x) dense[x->index] = x->value;
    // The group of k also computes the lanes before k; they are not needed.
    for (int g = k / lanes; g < working_rows.group_count(); ++g) {
      working_rows.group_dots(dense, g, sums);
      for (int c = 0; c < lanes; ++c) {
        const int m = g * lanes + c;
        if (m < k || m >= count) continue;
        if (m == k) {
          // The sign product of the diagonal is always 1 and is not applied.
          M[k + k * count] = sums[c] + 1;
        } else {
          const double v = static_cast<double>(signs[i] * signs[B[m]]) * (sums[c] + 1);
          M[k + m * count] = v;
          M[m + k * count] = v;
        }
      }
    }
    for (const Node* x = samples[i]; x->index != -1; ++x) dense[x->index] = 0;
  }
}

int Solver_B_linear::optimize(int l, Node* const* sample_list, const double* b,
                              const signed char* sign, double* start, double* primal, int bias,
                              double cost_pos, double cost_neg, double tolerance,
                              Solve_result* result, int shrink_flag, int working_set_size) {
  q_matrix = nullptr;
  w = primal;
  bias_slot = bias;
  C_pos = cost_pos;
  C_neg = cost_neg;
  samples.assign(sample_list, sample_list + l);
  sample_length.resize(l);
  // w reaches the largest feature index and the bias slot, which may share
  // an entry with a feature (the caller's choice); the padding slot follows.
  int largest = bias;
  for (int p = 0; p < l; ++p) {
    int n = 0;
    for (; samples[p][n].index != -1; ++n) largest = std::max(largest, samples[p][n].index);
    sample_length[p] = n;
  }
  zero_slot = largest + 1;
  weights.assign(primal, primal + zero_slot);
  weights.push_back(0.0);
  dense_sample.assign(static_cast<size_t>(zero_slot) + 1, 0.0);
  rows_stale = true;
  own_linear_term.assign(b, b + l);
  linear_term = own_linear_term.data();
  signs.assign(sign, sign + l);
  allocate_run(l, start, tolerance, shrink_flag, working_set_size, false);

  bool all_at_lower = true;
  for (int p = 0; p < l; ++p) {
    update_bound_state(p);
    if (bound_state[p] != Bound_state::at_lower) all_at_lower = false;
  }
  // With every alpha at 0 the gradient is b whatever w holds.
  for (int p = 0; p < l; ++p) gradient[p] = linear_term[p];
  if (!all_at_lower) refresh_active_gradient();

  start_schedule();
  int count = 0;
  double* wt = weights.data();
  while (next_working_set(&count) && !stalled()) {
    const int* B = working_set.data();
    for (int k = 0; k < count; ++k) {
      const int i = B[k];
      sub_linear[k] = gradient[i];
      sub_alpha[k] = alpha[i];
      sub_upper[k] = bound_of(i);
    }
    fill_sub_matrix(count);
    // Tighter than Solver_B: errors of the sub-problem go straight into w.
    solve_subproblem(count, eps / 100);

    for (int k = 0; k < count; ++k) {
      const int i = B[k];
      const double delta = sub_alpha[k] - alpha[i];
      if (!(std::fabs(delta) > negligible_change)) continue;
      alpha[i] = sub_alpha[k];
      update_bound_state(i);
      const double step = signs[i] * delta;
      for (const Node* x = samples[i]; x->index != -1; ++x) wt[x->index] += step * x->value;
      wt[bias_slot] += step;
    }
    refresh_active_gradient();
  }

  double sum = 0;
  for (int p = 0; p < l; ++p) sum += (gradient[p] + linear_term[p]) * alpha[p];
  result->objective = 0.5 * sum;
  result->bounds = static_cast<double*>(std::malloc(2 * sizeof(double)));
  result->bounds[0] = C_pos;
  result->bounds[1] = C_neg;
  write_back_alpha(start);
  std::copy(weights.begin(), weights.begin() + zero_slot, w);
  const int solved = iterations;
  release_run();
  release(own_linear_term);
  release(samples);
  release(sample_length);
  release(weights);
  release(dense_sample);
  active_rows.release();
  working_rows.release();
  release(row_first);
  release(row_positions);
  release(pack_rows);
  release(pack_lengths);
  linear_term = nullptr;
  w = nullptr;
  return solved;
}

}  // namespace tevra
