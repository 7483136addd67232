// Solver_MB: the block layout, the class-coupled gradient updates and the
// sub-problem of the single-problem multi-class dual.
#include "learn/solver_mb.h"

#include <cmath>
#include <cstdlib>
#include <utility>


namespace tevra {

double Solver_MB::bound_of(int i) const { return class_C[own_class[i]]; }

void Solver_MB::swap_variables(int i, int j) {
  if (i == j) return;
  // The Q matrix is addressed by sample, so it does not move.
  std::swap(own_class[i], own_class[j]);
  std::swap(other_class[i], other_class[j]);
  swap_shared_entries(i, j);
  std::swap(sample_of[i], sample_of[j]);
  std::swap(bound_gradient[i], bound_gradient[j]);
}

void Solver_MB::lay_out_blocks() {
  const int n = class_count;
  const int l = var_count;
  int pos = 0;
  for (int m = 0; m < n; ++m) {
    int s = 0;
    for (int y = 0; y < n; ++y) {
      const int beta = y + n * m;
      block_start[beta] = pos;
      inactive_start[beta] = l;
      if (y == m) {
        s += class_sizes[y];
        continue;
      }
      for (int k = 0; k < class_sizes[y]; ++k) {
        other_class[pos] = static_cast<short>(m);
        sample_of[pos] = s;
        position_map[pos] = pos;
        ++pos;
        ++s;
      }
    }
  }
  inactive_start[n * n] = l;
  block_start[n * n] = l;
}

void Solver_MB::deactivate(int i) {
  const int last = class_count * class_count;
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
  const int last = class_count * class_count;
  const int beta = block_of(i);
  swap_variables(i, inactive_start[beta]);
  for (int t = beta; t >= 1; --t) swap_variables(inactive_start[t], inactive_start[t - 1]);
  for (int t = last; t >= beta + 2; --t) swap_variables(block_start[t], block_start[t - 1]);
  for (int t = beta + 1; t <= last; ++t) ++block_start[t];
  for (int t = 0; t <= beta; ++t) ++inactive_start[t];
}

void Solver_MB::spread(int y, int m, double scale, const float* col, double* target,
                       Ranges ranges) {
  const double twice = 2 * scale;
  const bool active_part = ranges != Ranges::inactive;
  const bool inactive_part = ranges != Ranges::active;
  const int* sample = sample_of.data();
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
  visit_coupled_blocks(y, m, [&](int beta, int coefficient) {
    if (active_part) add_range(block_start[beta], block_start[beta + 1], coefficient);
    if (inactive_part) add_range(inactive_start[beta], inactive_start[beta + 1], coefficient);
  });
}

void Solver_MB::rebuild_gradient() {
  if (active_count == var_count) return;
  for (int p = active_count; p < var_count; ++p) gradient[p] = bound_gradient[p] + linear_constant;
  // The variables still spread in position order.
  for_free_column_batches(
      sample_count, [this](int v) { return sample_of[v]; },
      [this](const int* batch, int count) {
        for (int k = 0; k < count; ++k) {
          const int v = batch[k];
          spread(own_class[v], other_class[v], alpha[v], columns[k], gradient.data(),
                 Ranges::inactive);
        }
      });
}

void Solver_MB::after_failed_full_check() {
  const int l = var_count;
  // The canonical position of a variable is its caller's index, so the
  // selected variables move to position_map of their current positions.
  for (int k = 0; k < qpsize; ++k) {
    if (working_set[k] >= 0 && working_set[k] < l) working_set[k] = position_map[working_set[k]];
    if (previous_working_set[k] >= 0 && previous_working_set[k] < l) {
      previous_working_set[k] = position_map[previous_working_set[k]];
    }
  }
  // In place, one cycle at a time: each exchange settles one variable at its
  // canonical position.
  for (int p = 0; p < l; ++p) {
    while (position_map[p] != p) swap_variables(p, position_map[p]);
  }
  lay_out_blocks();
}

void Solver_MB::set_up(int l, Q_matrix& q, double b, const double* start_alpha,
                       const short* own_class_in, const double* class_C_in, double eps_in,
                       int shrinking_in, int qpsize_in, int class_count_in,
                       const int* class_sizes_in) {
  q_matrix = &q;
  linear_constant = b;
  class_C = class_C_in;
  class_count = class_count_in;
  class_sizes = class_sizes_in;
  sample_count = l / (class_count - 1);
  // bound_gradient is kept whether or not shrinking is on: swap_variables
  // exchanges it unconditionally.
  allocate_run(l, start_alpha, eps_in, shrinking_in, qpsize_in, true);
  own_class.assign(own_class_in, own_class_in + l);
  other_class.assign(l, 0);
  sample_of.assign(l, 0);
  const int blocks = class_count * class_count;
  block_start.assign(blocks + 1, 0);
  inactive_start.assign(blocks + 1, 0);

  for (int p = 0; p < l; ++p) update_bound_state(p);
  active_count = l;
  lay_out_blocks();

  for (int p = 0; p < l; ++p) {
    gradient[p] = linear_constant;
    bound_gradient[p] = 0;
  }
  for (int v = 0; v < l; ++v) {
    if (bound_state[v] == Bound_state::at_lower) continue;
    const float* col = q_matrix->get_column(sample_of[v], sample_count);
    spread(own_class[v], other_class[v], alpha[v], col, gradient.data(), Ranges::both);
    if (shrinking && bound_state[v] == Bound_state::at_upper) {
      spread(own_class[v], other_class[v], bound_of(v), col, bound_gradient.data(), Ranges::both);
    }
  }
}

void Solver_MB::solve_working_set(int count) {
  for (int k = 0; k < count; ++k) column_rows[k] = sample_of[working_set[k]];
  q_matrix->get_columns(column_rows.data(), count, sample_count, columns.data());

  // M from the class coefficients and the kernel entries: the product is
  // formed in single precision, as the entries are, then widened.
  for (int k = 0; k < count; ++k) {
    const int i = working_set[k];
    sub_linear[k] = gradient[i];
    sub_alpha[k] = alpha[i];
    sub_upper[k] = bound_of(i);
  }
  for (int k = 0; k < count; ++k) {
    const int i = working_set[k];
    const float* col = columns[k];
    sub_matrix[k + k * count] = static_cast<double>(2.0f * col[sample_of[i]]);
    for (int m = k + 1; m < count; ++m) {
      const int j = working_set[m];
      const int coefficient = (own_class[i] == own_class[j]) + (other_class[i] == other_class[j]) -
                              (own_class[i] == other_class[j]) - (other_class[i] == own_class[j]);
      const double v = static_cast<double>(static_cast<float>(coefficient) * col[sample_of[j]]);
      sub_matrix[k + m * count] = v;
      sub_matrix[m + k * count] = v;
    }
  }
  solve_subproblem(count, eps / 10);

  for (int k = 0; k < count; ++k) {
    const int i = working_set[k];
    const double delta = sub_alpha[k] - alpha[i];
    if (std::fabs(delta) > 1e-12) {
      alpha[i] = sub_alpha[k];
      spread(own_class[i], other_class[i], delta, columns[k], gradient.data(), Ranges::active);
    }
  }

  for (int k = 0; k < count; ++k) {
    const int i = working_set[k];
    const bool was_upper = bound_state[i] == Bound_state::at_upper;
    update_bound_state(i);
    const bool is_upper = bound_state[i] == Bound_state::at_upper;
    if (shrinking && was_upper != is_upper) {
      // The working-set column serves here too; no new column is fetched.
      spread(own_class[i], other_class[i], is_upper ? sub_upper[k] : -sub_upper[k], columns[k],
             bound_gradient.data(), Ranges::both);
    }
  }
}

void Solver_MB::optimize(int l, Q_matrix& q, double b, double* caller_alpha,
                         const short* own_class_in, const double* class_C_in, double eps_in,
                         Solve_result* result, int shrinking_in, int qpsize_in, int class_count_in,
                         const int* class_sizes_in) {
  set_up(l, q, b, caller_alpha, own_class_in, class_C_in, eps_in, shrinking_in, qpsize_in,
         class_count_in, class_sizes_in);
  start_schedule();

  int count = 0;
  while (next_working_set(&count) && !stalled()) solve_working_set(count);

  // Inactive entries are used as they stand, without a refresh.
  double sum = 0;
  for (int p = 0; p < l; ++p) sum += (linear_constant + gradient[p]) * alpha[p];
  result->objective = 0.25 * sum;
  result->bounds = static_cast<double*>(std::malloc(sizeof(double) * class_count));
  for (int y = 0; y < class_count; ++y) result->bounds[y] = class_C[y];

  log_info(progress, "\noptimization finished, #iter = %d\n", iterations);
  write_back_alpha(caller_alpha);

  release_run();
  own_class = {};
  other_class = {};
  sample_of = {};
  block_start = {};
  inactive_start = {};
}

}  // namespace tevra
