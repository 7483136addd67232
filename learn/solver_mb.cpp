// Solver_MB: the block layout, the class-coupled gradient updates and the
// sub-problem of the single-problem multi-class dual.
#include "learn/solver_mb.h"

#include <cmath>
#include <utility>

namespace tevra {

double Solver_MB::bound_of(int i) const { return blocks_.class_C[blocks_.own_class[i]]; }

void Solver_MB::swap_variables(int i, int j) {
  if (i == j) return;
  // The Q matrix is addressed by sample, so it does not move.
  std::swap(blocks_.own_class[i], blocks_.own_class[j]);
  std::swap(blocks_.other_class[i], blocks_.other_class[j]);
  swap_shared_entries(i, j);
  std::swap(blocks_.sample_of[i], blocks_.sample_of[j]);
  std::swap(run_.bound_gradient[i], run_.bound_gradient[j]);
}

void Solver_MB::lay_out_blocks() {
  Blocks& b = blocks_;
  const int n = b.class_count;
  const int l = run_.var_count;
  int pos = 0;
  for (int m = 0; m < n; ++m) {
    int s = 0;
    for (int y = 0; y < n; ++y) {
      const int beta = y + n * m;
      b.block_start[beta] = pos;
      b.inactive_start[beta] = l;
      if (y == m) {
        s += b.class_sizes[y];
        continue;
      }
      for (int k = 0; k < b.class_sizes[y]; ++k) {
        b.other_class[pos] = m;
        b.sample_of[pos] = s;
        run_.position_map[pos] = pos;
        ++pos;
        ++s;
      }
    }
  }
  b.inactive_start[n * n] = l;
  b.block_start[n * n] = l;
}

void Solver_MB::deactivate(int i) {
  std::vector<int>& block_start = blocks_.block_start;
  std::vector<int>& inactive_start = blocks_.inactive_start;
  const int last = blocks_.class_count * blocks_.class_count;
  const int beta = block_of(i);
  for (int t = beta + 1; t <= last; ++t) --block_start[t];
  for (int t = 0; t <= beta; ++t) --inactive_start[t];
  // i takes the place freed at the end of its block's active range, then
  // walks one block at a time to position active_count and on through the
  // inactive blocks before its own.
  swap_variables(i, block_start[beta + 1]);
  for (int t = beta + 1; t < last; ++t) swap_variables(block_start[t], block_start[t + 1]);
  for (int t = 0; t < beta; ++t) swap_variables(inactive_start[t], inactive_start[t + 1]);
}

void Solver_MB::reactivate(int i) {
  std::vector<int>& block_start = blocks_.block_start;
  std::vector<int>& inactive_start = blocks_.inactive_start;
  const int last = blocks_.class_count * blocks_.class_count;
  const int beta = block_of(i);
  swap_variables(i, inactive_start[beta]);
  for (int t = beta; t >= 1; --t) swap_variables(inactive_start[t], inactive_start[t - 1]);
  for (int t = last; t >= beta + 2; --t) swap_variables(block_start[t], block_start[t - 1]);
  for (int t = beta + 1; t <= last; ++t) ++block_start[t];
  for (int t = 0; t <= beta; ++t) ++inactive_start[t];
}

void Solver_MB::spread(int y, int m, double scale, const float* col, double* target,
                       Ranges ranges) const {
  const double twice = 2 * scale;
  const bool active_part = ranges != Ranges::inactive;
  const bool inactive_part = ranges != Ranges::active;
  const int* sample = blocks_.sample_of.data();
  auto add_range = [&](int begin, int end, int coefficient) {
    switch (coefficient) {
      case 2:
        for (int p = begin; p < end; ++p) target[p] += twice * col[sample[p]];
        break;
      case -2:
        for (int p = begin; p < end; ++p) target[p] -= twice * col[sample[p]];
        break;
      case 1:
        for (int p = begin; p < end; ++p) target[p] += scale * col[sample[p]];
        break;
      default:
        for (int p = begin; p < end; ++p) target[p] -= scale * col[sample[p]];
        break;
    }
  };
  const std::vector<int>& block_start = blocks_.block_start;
  const std::vector<int>& inactive_start = blocks_.inactive_start;
  visit_coupled_blocks(y, m, [&](int beta, int coefficient) {
    if (active_part) add_range(block_start[beta], block_start[beta + 1], coefficient);
    if (inactive_part) add_range(inactive_start[beta], inactive_start[beta + 1], coefficient);
  });
}

void Solver_MB::rebuild_gradient() {
  Run& r = run_;
  if (r.active_count == r.var_count) return;
  for (int p = r.active_count; p < r.var_count; ++p) {
    r.gradient[p] = r.bound_gradient[p] + blocks_.linear_constant;
  }
  // The variables still spread in position order.
  for_free_column_batches(
      blocks_.sample_count, [this](int v) { return blocks_.sample_of[v]; },
      [this, &r](const int* batch, int count) {
        for (int k = 0; k < count; ++k) {
          const int v = batch[k];
          spread(blocks_.own_class[v], blocks_.other_class[v], r.alpha[v], r.columns[k],
                 r.gradient.data(), Ranges::inactive);
        }
      });
}

void Solver_MB::after_failed_full_check() { restore_canonical_order(); }

void Solver_MB::restore_canonical_order() {
  Run& r = run_;
  const int l = r.var_count;
  // The canonical position of a variable is its caller's index, so the
  // selected variables move to position_map of their current positions.
  for (int k = 0; k < r.qpsize; ++k) {
    if (r.working_set[k] >= 0 && r.working_set[k] < l) {
      r.working_set[k] = r.position_map[r.working_set[k]];
    }
    if (r.previous_working_set[k] >= 0 && r.previous_working_set[k] < l) {
      r.previous_working_set[k] = r.position_map[r.previous_working_set[k]];
    }
  }
  // In place, one cycle at a time: each exchange settles one variable at its
  // canonical position.
  for (int p = 0; p < l; ++p) {
    while (r.position_map[p] != p) swap_variables(p, r.position_map[p]);
  }
  lay_out_blocks();
}

void Solver_MB::set_up(int l, Q_matrix& q, double b, const double* start_alpha,
                       const int* own_class_in, const double* class_C_in, double eps_in,
                       int shrinking_in, int qpsize_in, int class_count_in,
                       const int* class_sizes_in) {
  Run& r = run_;
  Blocks& blocks = blocks_;
  r.q_matrix = &q;
  blocks.linear_constant = b;
  blocks.class_C = class_C_in;
  blocks.class_count = class_count_in;
  blocks.class_sizes = class_sizes_in;
  blocks.sample_count = l / (class_count_in - 1);
  // bound_gradient is kept whether or not shrinking is on: swap_variables
  // exchanges it unconditionally.
  start_run(l, start_alpha, eps_in, shrinking_in, qpsize_in, true);
  blocks.own_class.assign(own_class_in, own_class_in + l);
  blocks.other_class.assign(l, 0);
  blocks.sample_of.assign(l, 0);
  const int count = class_count_in * class_count_in;
  blocks.block_start.assign(count + 1, 0);
  blocks.inactive_start.assign(count + 1, 0);

  for (int p = 0; p < l; ++p) update_bound_state(p);
  r.active_count = l;
  lay_out_blocks();

  for (int p = 0; p < l; ++p) {
    r.gradient[p] = blocks.linear_constant;
    r.bound_gradient[p] = 0;
  }
  for (int v = 0; v < l; ++v) {
    if (r.bound_state[v] == Bound_state::at_lower) continue;
    const float* col = r.q_matrix->get_column(blocks.sample_of[v], blocks.sample_count);
    spread(blocks.own_class[v], blocks.other_class[v], r.alpha[v], col, r.gradient.data(),
           Ranges::both);
    if (r.shrinking && r.bound_state[v] == Bound_state::at_upper) {
      spread(blocks.own_class[v], blocks.other_class[v], bound_of(v), col,
             r.bound_gradient.data(), Ranges::both);
    }
  }
}

void Solver_MB::solve_working_set(int count) {
  Run& r = run_;
  const Blocks& b = blocks_;
  for (int k = 0; k < count; ++k) r.column_rows[k] = b.sample_of[r.working_set[k]];
  r.q_matrix->get_columns(r.column_rows.data(), count, b.sample_count, r.columns.data());

  // M from the class coefficients and the kernel entries: the product is
  // formed in single precision, as the entries are, then widened.
  load_working_set(count);
  for (int k = 0; k < count; ++k) {
    const int i = r.working_set[k];
    const float* col = r.columns[k];
    r.sub_matrix[k + k * count] = static_cast<double>(2.0f * col[b.sample_of[i]]);
    for (int m = k + 1; m < count; ++m) {
      const int j = r.working_set[m];
      const int coefficient =
          (b.own_class[i] == b.own_class[j]) + (b.other_class[i] == b.other_class[j]) -
          (b.own_class[i] == b.other_class[j]) - (b.other_class[i] == b.own_class[j]);
      const double v = static_cast<double>(static_cast<float>(coefficient) * col[b.sample_of[j]]);
      r.sub_matrix[k + m * count] = v;
      r.sub_matrix[m + k * count] = v;
    }
  }
  solve_subproblem(count, r.eps / 10);

  // The working-set columns serve the bound gradient too; no new column is
  // fetched.
  apply_solution(
      count,
      [this, &r, &b](int k, int i, double delta) {
        spread(b.own_class[i], b.other_class[i], delta, r.columns[k], r.gradient.data(),
               Ranges::active);
      },
      [this, &r, &b](int k, int i, bool entered) {
        spread(b.own_class[i], b.other_class[i], entered ? r.sub_upper[k] : -r.sub_upper[k],
               r.columns[k], r.bound_gradient.data(), Ranges::both);
      });
}

void Solver_MB::optimize(int l, Q_matrix& q, double b, double* caller_alpha,
                         const int* own_class_in, const double* class_C_in, double eps_in,
                         Solve_result* result, int shrinking_in, int qpsize_in, int class_count_in,
                         const int* class_sizes_in) {
  set_up(l, q, b, caller_alpha, own_class_in, class_C_in, eps_in, shrinking_in, qpsize_in,
         class_count_in, class_sizes_in);
  iterate();
  log_info(progress, "\noptimization finished, #iter = %d\n", run_.iterations);
  // Inactive entries are used as they stand, without a refresh.
  const double linear_constant = blocks_.linear_constant;
  finish_run(0.25, [linear_constant](int) { return linear_constant; }, blocks_.class_C,
             blocks_.class_count, result, caller_alpha);
  blocks_ = Blocks();
}

}  // namespace tevra
