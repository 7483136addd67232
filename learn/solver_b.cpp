// Solver_B: the kernel-based run and the loop schedule shared with its
// subclasses. Selection and shrinking live in working_set.cpp.
#include "learn/solver_b.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>


namespace tevra {

namespace {

// Changes of a variable up to this size are dropped: they would cost a full
// gradient update for nothing measurable.
constexpr double negligible_change = 1e-12;

template <typename T>
void release(std::vector<T>& v) {
  std::vector<T>().swap(v);
}

}  // namespace

double Solver_B::bound_of(int i) const { return signs[i] > 0 ? C_pos : C_neg; }

void Solver_B::swap_variables(int i, int j) {
  q_matrix->swap_entries(i, j);
  std::swap(signs[i], signs[j]);
  swap_shared_entries(i, j);
  std::swap(linear_term[i], linear_term[j]);
  std::swap(bound_gradient[i], bound_gradient[j]);
}

void Solver_B::swap_shared_entries(int i, int j) {
  std::swap(gradient[i], gradient[j]);
  std::swap(bound_state[i], bound_state[j]);
  std::swap(alpha[i], alpha[j]);
  std::swap(position_map[i], position_map[j]);
}

// Exact because every inactive variable is at a bound: those at the upper
// bound are in bound_gradient, those at 0 add nothing, and free variables
// are never inactive, so only their columns are needed.
void Solver_B::rebuild_gradient() {
  if (active_count == var_count) return;
  for (int t = active_count; t < var_count; ++t) {
    gradient[t] = linear_term[t] + bound_gradient[t];
  }
  // The free columns enter each entry in position order.
  for_free_column_batches(
      var_count, [](int v) { return v; },
      [this](const int* batch, int count) {
        for (int t = active_count; t < var_count; ++t) {
          double g = gradient[t];
          for (int k = 0; k < count; ++k) g += alpha[batch[k]] * columns[k][t];
          gradient[t] = g;
        }
      });
}

void Solver_B::deactivate(int i) { swap_variables(i, active_count); }

void Solver_B::reactivate(int i) { swap_variables(i, active_count); }

void Solver_B::after_failed_full_check() {}

void Solver_B::update_bound_state(int p) {
  if (alpha[p] >= bound_of(p)) {
    bound_state[p] = Bound_state::at_upper;
  } else if (alpha[p] <= 0) {
    bound_state[p] = Bound_state::at_lower;
  } else {
    bound_state[p] = Bound_state::free;
  }
}

void Solver_B::allocate_run(int l, const double* start_alpha, double tolerance, int shrink_flag,
                            int working_set_size, bool with_bound_gradient) {
  var_count = l;
  active_count = l;
  eps = tolerance;
  shrinking = shrink_flag;
  qpsize = working_set_size;
  reactivated = false;

  alpha.assign(start_alpha, start_alpha + l);
  gradient.assign(l, 0.0);
  bound_state.assign(l, Bound_state::at_lower);
  position_map.resize(l);
  for (int p = 0; p < l; ++p) position_map[p] = p;
  if (with_bound_gradient) bound_gradient.assign(l, 0.0);

  working_set.assign(qpsize, 0);
  previous_working_set.assign(qpsize, -1);
  list_value.assign(qpsize, 0.0);
  list_position.assign(qpsize, -1);
  sub_alpha.assign(qpsize, 0.0);
  sub_upper.assign(qpsize, 0.0);
  sub_linear.assign(qpsize, 0.0);
  sub_matrix.assign(static_cast<size_t>(qpsize) * static_cast<size_t>(qpsize), 0.0);
  columns.assign(qpsize, nullptr);
  column_rows.assign(qpsize, 0);
  batch_variables.assign(qpsize, 0);
}

void Solver_B::start_schedule() {
  const long long twice_l = 2LL * var_count;
  period = static_cast<int>(std::min(twice_l / qpsize, 2000LL / qpsize));
  counter = period + 1;
  std::fill(previous_working_set.begin(), previous_working_set.end(), -1);
  iterations = 0;
  stall_snapshot = false;
}

bool Solver_B::next_working_set(int* count) {
  --counter;
  if (counter == 0) {
    counter = period;
    if (shrinking) shrink();
    log_info(progress, ".");
  }

  Selection selection = choose_working_set();
  if (eps > selection.Gmax) {
    // Full check: judge every variable with exact gradients.
    rebuild_gradient();
    active_count = var_count;
    log_info(progress, "*");
    selection = choose_working_set();
    if (eps > selection.Gmax) return false;
    after_failed_full_check();
    counter = 1;  // the next pass runs the shrinking step
  }

  // A working set equal to the previous one means the sub-problem solver
  // stagnates; this is checked only in passes that reset the counter.
  if (counter == period &&
      std::equal(working_set.begin(), working_set.end(), previous_working_set.begin())) {
    return false;
  }
  std::copy(working_set.begin(), working_set.end(), previous_working_set.begin());
  ++iterations;
  *count = selection.count;
  return true;
}

namespace {

// Equal to the last bit (NaN included).
template <typename T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), sizeof(T) * a.size()) == 0);
}

}  // namespace

// With period 0 the counter never returns to 0 after the first pass, so no
// shrinking step and no working-set comparison can end a run whose
// sub-problems no longer move any variable (at extreme costs the solutions
// drown in rounding). Every pass is then a function of the variables, the
// gradients, the positions and active set, and the sub-problem solver's
// shift: a pass that finds them exactly as the previous pass found them,
// with the same selection, is followed by that same pass forever. Such a run
// stops here; a run that ends by itself never meets this.
bool Solver_B::stalled() {
  if (period != 0) return false;
  const double shift = box_solver.cholesky_shift();
  if (stall_snapshot && active_count == stall_active_count && reactivated == stall_reactivated &&
      std::memcmp(&shift, &stall_shift, sizeof shift) == 0 && same_bits(alpha, stall_alpha) &&
      same_bits(gradient, stall_gradient) && same_bits(bound_gradient, stall_bound_gradient) &&
      position_map == stall_positions && working_set == stall_working_set)
    return true;
  stall_snapshot = true;
  stall_alpha = alpha;
  stall_gradient = gradient;
  stall_bound_gradient = bound_gradient;
  stall_positions = position_map;
  stall_working_set = working_set;
  stall_active_count = active_count;
  stall_reactivated = reactivated;
  stall_shift = shift;
  return false;
}

void Solver_B::solve_subproblem(int count, double tolerance) {
  // g = G_B - M alpha_B: the linear term of the dual restricted to the
  // working set with every other variable fixed.
  const double* M = sub_matrix.data();
  const double* a = sub_alpha.data();
  double* g = sub_linear.data();
  for (int k = 0; k < count; ++k) {
    g[k] -= M[k + k * count] * a[k];
    for (int m = k + 1; m < count; ++m) {
      const double v = M[k + m * count];
      g[k] -= v * a[m];
      g[m] -= v * a[k];
    }
  }
  Box_subproblem problem;
  problem.tolerance = tolerance;
  problem.size = count;
  problem.x = sub_alpha.data();
  problem.upper = sub_upper.data();
  problem.matrix = sub_matrix.data();
  problem.linear = sub_linear.data();
  box_solver.solve(problem);
}

void Solver_B::write_back_alpha(double* caller_alpha) const {
  for (int p = 0; p < var_count; ++p) caller_alpha[position_map[p]] = alpha[p];
}

void Solver_B::release_run() {
  release(gradient);
  release(bound_state);
  release(alpha);
  release(position_map);
  release(bound_gradient);
  release(working_set);
  release(previous_working_set);
  release(signs);
  release(sub_alpha);
  release(sub_upper);
  release(sub_linear);
  release(sub_matrix);
  release(columns);
  release(column_rows);
  release(batch_variables);
  release(list_value);
  release(list_position);
  release(stall_alpha);
  release(stall_gradient);
  release(stall_bound_gradient);
  release(stall_positions);
  release(stall_working_set);
  stall_snapshot = false;
}

void Solver_B::optimize(int l, Q_matrix& matrix, double* b, const signed char* sign, double* start,
                        double cost_pos, double cost_neg, double tolerance, Solve_result* result,
                        int shrink_flag, int working_set_size) {
  q_matrix = &matrix;
  linear_term = b;
  C_pos = cost_pos;
  C_neg = cost_neg;
  signs.assign(sign, sign + l);
  allocate_run(l, start, tolerance, shrink_flag, working_set_size, true);
  for (int p = 0; p < l; ++p) update_bound_state(p);

  // Gradient of the starting point; variables at 0 contribute nothing.
  for (int p = 0; p < l; ++p) gradient[p] = linear_term[p];
  for (int i = 0; i < l; ++i) {
    if (bound_state[i] == Bound_state::at_lower) continue;
    const float* col = q_matrix->get_column(i, l);
    const double a = alpha[i];
    for (int t = 0; t < l; ++t) gradient[t] += a * col[t];
    if (shrinking && bound_state[i] == Bound_state::at_upper) {
      const double bound = bound_of(i);
      for (int t = 0; t < l; ++t) bound_gradient[t] += bound * col[t];
    }
  }

  start_schedule();
  int count = 0;
  double* M = sub_matrix.data();
  while (next_working_set(&count) && !stalled()) {
    const int* B = working_set.data();
    q_matrix->get_columns(B, count, active_count, columns.data());

    for (int k = 0; k < count; ++k) sub_linear[k] = gradient[B[k]];
    for (int k = 0; k < count; ++k) {
      const float* col = columns[k];
      sub_alpha[k] = alpha[B[k]];
      sub_upper[k] = bound_of(B[k]);
      M[k + k * count] = col[B[k]];
      for (int m = k + 1; m < count; ++m) {
        const double v = col[B[m]];
        M[k + m * count] = v;
        M[m + k * count] = v;
      }
    }
    solve_subproblem(count, eps / 10);

    for (int k = 0; k < count; ++k) {
      const int i = B[k];
      const double delta = sub_alpha[k] - alpha[i];
      if (!(std::fabs(delta) > negligible_change)) continue;
      alpha[i] = sub_alpha[k];
      const float* col = columns[k];
      for (int t = 0; t < active_count; ++t) gradient[t] += col[t] * delta;
    }

    for (int k = 0; k < count; ++k) {
      const int i = B[k];
      const bool was_upper = bound_state[i] == Bound_state::at_upper;
      update_bound_state(i);
      const bool is_upper = bound_state[i] == Bound_state::at_upper;
      if (!shrinking || was_upper == is_upper) continue;
      const float* col = q_matrix->get_column(i, l);
      const double bound = sub_upper[k];
      if (was_upper) {
        for (int t = 0; t < l; ++t) bound_gradient[t] -= bound * col[t];
      } else {
        for (int t = 0; t < l; ++t) bound_gradient[t] += bound * col[t];
      }
    }
  }

  double sum = 0;
  for (int p = 0; p < l; ++p) sum += (gradient[p] + linear_term[p]) * alpha[p];
  result->objective = 0.5 * sum;
  result->bounds = static_cast<double*>(std::malloc(2 * sizeof(double)));
  result->bounds[0] = C_pos;
  result->bounds[1] = C_neg;
  log_info(progress, "\noptimization finished, #iter = %d\n", iterations);
  write_back_alpha(start);
  release_run();
}

}  // namespace tevra
