// Solver_B_linear: the run of the linear kernel over an explicit w.
#include "learn/solver_b_linear.h"

#include <algorithm>
#include <functional>
#include <utility>

#include "learn/kernel.h"

namespace tevra {

double Solver_B_linear::gradient_from_w(int t) const {
  const Run& r = run_;
  const double* wt = primal_.w;
  double sum = 0;
  for (const Node* x = primal_.samples[t]; x->index != -1; ++x) sum += wt[x->index] * x->value;
  return r.signs[t] * (sum + wt[primal_.bias_slot]) + r.linear_term[t];
}

void Solver_B_linear::swap_variables(int i, int j) {
  Run& r = run_;
  std::swap(r.signs[i], r.signs[j]);
  swap_shared_entries(i, j);
  std::swap(r.linear_term[i], r.linear_term[j]);
  std::swap(primal_.samples[i], primal_.samples[j]);
  std::swap(primal_.sample_length[i], primal_.sample_length[j]);
  primal_.rows_stale = true;
}

void Solver_B_linear::rebuild_gradient() {
  for (int t = run_.active_count; t < run_.var_count; ++t) run_.gradient[t] = gradient_from_w(t);
}

void Solver_B_linear::pack_active_rows() {
  Primal_state& s = primal_;
  const int active_count = run_.active_count;
  s.rows_stale = false;
  s.rows_active = active_count;

  // Longest rows first; positions that share a sample end up adjacent.
  s.row_positions.resize(active_count);
  for (int p = 0; p < active_count; ++p) s.row_positions[p] = p;
  std::sort(s.row_positions.begin(), s.row_positions.end(), [&s](int a, int b) {
    if (s.sample_length[a] != s.sample_length[b]) return s.sample_length[a] > s.sample_length[b];
    return std::less<const Node*>()(s.samples[a], s.samples[b]);
  });
  s.row_first.clear();
  s.pack_rows.clear();
  s.pack_lengths.clear();
  for (int k = 0; k < active_count; ++k) {
    const int p = s.row_positions[k];
    if (k > 0 && s.samples[p] == s.samples[s.row_positions[k - 1]]) continue;
    s.row_first.push_back(k);
    s.pack_rows.push_back(s.samples[p]);
    s.pack_lengths.push_back(s.sample_length[p]);
  }
  const int rows = static_cast<int>(s.pack_rows.size());
  s.active_rows.pack(s.pack_rows.data(), s.pack_lengths.data(), rows, s.zero_slot);
  s.row_first.resize(static_cast<size_t>(s.active_rows.group_count()) * lanes + 1, active_count);
}

void Solver_B_linear::refresh_active_gradient() {
  Primal_state& s = primal_;
  Run& r = run_;
  if (s.rows_stale || s.rows_active != r.active_count) pack_active_rows();
  const double* wt = s.w;
  const double bias = wt[s.bias_slot];
  double sums[lanes];
  for (int g = 0; g < s.active_rows.group_count(); ++g) {
    s.active_rows.group_dots(wt, g, sums);
    for (int c = 0; c < lanes; ++c) {
      const int row = g * lanes + c;
      for (int k = s.row_first[row]; k < s.row_first[row + 1]; ++k) {
        const int t = s.row_positions[k];
        r.gradient[t] = r.signs[t] * (sums[c] + bias) + r.linear_term[t];
      }
    }
  }
}

void Solver_B_linear::fill_sub_matrix(int count) {
  Primal_state& s = primal_;
  Run& r = run_;
  double* M = r.sub_matrix.data();
  const int* B = r.working_set.data();
  // Entry (k, m) from the dot product of the two samples: the sign product
  // of the diagonal is always 1 and is not applied.
  const auto store = [&](int k, int m, double dot_product) {
    if (m == k) {
      M[k + k * count] = dot_product + 1;
    } else {
      const double v = static_cast<double>(r.signs[B[k]] * r.signs[B[m]]) * (dot_product + 1);
      M[k + m * count] = v;
      M[m + k * count] = v;
    }
  };
  if (s.dense_sample.empty()) {
    // Indices far beyond the data: the merge walk itself.
    for (int k = 0; k < count; ++k)
      for (int m = k; m < count; ++m) store(k, m, dot(s.samples[B[k]], s.samples[B[m]]));
    return;
  }

  double* dense = s.dense_sample.data();
  s.pack_rows.resize(count);
  s.pack_lengths.resize(count);
  for (int k = 0; k < count; ++k) {
    s.pack_rows[k] = s.samples[B[k]];
    s.pack_lengths[k] = s.sample_length[B[k]];
  }
  s.working_rows.pack(s.pack_rows.data(), s.pack_lengths.data(), count, s.zero_slot);

  // The merge walk of a sparse dot product adds x_f y_f over the common
  // features in increasing f; walking y over the scattered x adds the same
  // products in the same order, plus exact zeros for the features x lacks
  // (feature values are finite).
  double sums[lanes];
  for (int k = 0; k < count; ++k) {
    const int i = B[k];
    for (const Node* x = s.samples[i]; x->index != -1; ++x) dense[x->index] = x->value;
    // The group of k also computes the lanes before k; they are not needed.
    for (int g = k / lanes; g < s.working_rows.group_count(); ++g) {
      s.working_rows.group_dots(dense, g, sums);
      for (int c = 0; c < lanes; ++c) {
        const int m = g * lanes + c;
        if (m >= k && m < count) store(k, m, sums[c]);
      }
    }
    for (const Node* x = s.samples[i]; x->index != -1; ++x) dense[x->index] = 0;
  }
}

void Solver_B_linear::solve_working_set(int count) {
  Run& r = run_;
  Primal_state& s = primal_;
  load_working_set(count);
  fill_sub_matrix(count);
  // Tighter than Solver_B: errors of the sub-problem go straight into w.
  solve_subproblem(count, r.eps / 100);

  double* wt = s.w;
  apply_solution(
      count,
      [&r, &s, wt](int, int i, double delta) {
        const double step = r.signs[i] * delta;
        for (const Node* x = s.samples[i]; x->index != -1; ++x) wt[x->index] += step * x->value;
        wt[s.bias_slot] += step;
      },
      [](int, int, bool) {});  // no bound gradient
  refresh_active_gradient();
}

int Solver_B_linear::optimize_linear(int l, Node* const* sample_list, const double* b,
                                     const signed char* sign, double* start, double* primal,
                                     int bias, double cost_pos, double cost_neg, double tolerance,
                                     Solve_result* result, int shrink_flag,
                                     int working_set_size) {
  Run& r = run_;
  Primal_state& s = primal_;
  s.w = primal;
  s.bias_slot = bias;
  s.samples.assign(sample_list, sample_list + l);
  s.sample_length.resize(l);
  // w reaches the largest feature index and the bias slot, which may share
  // an entry with a feature (the caller's choice); the padding slot follows.
  int largest = bias;
  long long node_count = 0;
  for (int p = 0; p < l; ++p) {
    int n = 0;
    for (; s.samples[p][n].index != -1; ++n) largest = std::max(largest, s.samples[p][n].index);
    s.sample_length[p] = n;
    node_count += n;
  }
  s.zero_slot = largest + 1;
  // A solver object may run again on other samples: never keep a row sized
  // for the previous ones.
  if (dense_row_pays(static_cast<long long>(s.zero_slot) + 1, node_count))
    s.dense_sample.assign(static_cast<size_t>(s.zero_slot) + 1, 0.0);
  else
    std::vector<double>().swap(s.dense_sample);
  s.rows_stale = true;
  s.own_linear_term.assign(b, b + l);
  r.linear_term = s.own_linear_term.data();
  r.C_pos = cost_pos;
  r.C_neg = cost_neg;
  r.signs.assign(sign, sign + l);
  start_run(l, start, tolerance, shrink_flag, working_set_size, false);

  bool all_at_lower = true;
  for (int p = 0; p < l; ++p) {
    update_bound_state(p);
    if (r.bound_state[p] != Bound_state::at_lower) all_at_lower = false;
  }
  // With every alpha at 0 the gradient is b whatever w holds.
  for (int p = 0; p < l; ++p) r.gradient[p] = r.linear_term[p];
  if (!all_at_lower) refresh_active_gradient();

  iterate();

  const int solved = r.iterations;
  const double bounds[] = {r.C_pos, r.C_neg};
  const double* linear_term = r.linear_term;
  finish_run(0.5, [linear_term](int p) { return linear_term[p]; }, bounds, 2, result, start);
  primal_ = Primal_state();
  return solved;
}

}  // namespace tevra
