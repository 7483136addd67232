// Solver_B: the kernel-based run, and the loop schedule, shrinking, step
// application and run finishing shared with its subclasses.
#include "learn/solver_b.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "learn/parallel.h"

namespace tevra {

double Solver_B::bound_of(int i) const { return run_.signs[i] > 0 ? run_.C_pos : run_.C_neg; }

void Solver_B::swap_variables(int i, int j) {
  Run& r = run_;
  r.q_matrix->swap_entries(i, j);
  std::swap(r.signs[i], r.signs[j]);
  swap_shared_entries(i, j);
  std::swap(r.linear_term[i], r.linear_term[j]);
  std::swap(r.bound_gradient[i], r.bound_gradient[j]);
}

void Solver_B::swap_shared_entries(int i, int j) {
  Run& r = run_;
  std::swap(r.gradient[i], r.gradient[j]);
  std::swap(r.bound_state[i], r.bound_state[j]);
  std::swap(r.alpha[i], r.alpha[j]);
  std::swap(r.position_map[i], r.position_map[j]);
}

// Exact because every inactive variable is at a bound: those at the upper
// bound are in bound_gradient, those at 0 add nothing, and free variables
// are never inactive, so only their columns are needed.
void Solver_B::rebuild_gradient() {
  Run& r = run_;
  if (r.active_count == r.var_count) return;
  for (int t = r.active_count; t < r.var_count; ++t) {
    r.gradient[t] = r.linear_term[t] + r.bound_gradient[t];
  }
  // The free columns enter each entry in position order; the entries are
  // split between threads.
  for_free_column_batches(
      r.var_count, [](int v) { return v; },
      [&r](const int* batch, int count) {
        const int first = r.active_count;
        parallel_for(r.var_count - first, static_cast<long long>(count) * (r.var_count - first),
                     [&](int begin, int end) {
                       for (int t = first + begin; t < first + end; ++t) {
                         double g = r.gradient[t];
                         for (int k = 0; k < count; ++k) g += r.alpha[batch[k]] * r.columns[k][t];
                         r.gradient[t] = g;
                       }
                     });
      });
}

void Solver_B::add_columns(int count, const double* steps, double* target, int begin, int end) {
  const Run& r = run_;
  parallel_for(end - begin, static_cast<long long>(count) * (end - begin), [&](int from, int to) {
    for (int k = 0; k < count; ++k) {
      const float* const col = r.columns[k];
      const double step = steps[k];
      for (int t = begin + from; t < begin + to; ++t) target[t] += col[t] * step;
    }
  });
}

void Solver_B::deactivate(int i) { swap_variables(i, run_.active_count); }

void Solver_B::reactivate(int i) { swap_variables(i, run_.active_count); }

void Solver_B::after_failed_full_check() {}

void Solver_B::deactivate_at(int p) {
  --run_.active_count;
  deactivate(p);
}

void Solver_B::reactivate_at(int p) {
  reactivate(p);
  ++run_.active_count;
}

void Solver_B::update_bound_state(int p) {
  Run& r = run_;
  if (r.alpha[p] >= bound_of(p)) {
    r.bound_state[p] = Bound_state::at_upper;
  } else if (r.alpha[p] <= 0) {
    r.bound_state[p] = Bound_state::at_lower;
  } else {
    r.bound_state[p] = Bound_state::free;
  }
}

void Solver_B::start_run(int l, const double* start_alpha, double tolerance, int shrink_flag,
                         int working_set_size, bool with_bound_gradient) {
  Run& r = run_;
  r.var_count = l;
  r.active_count = l;
  r.eps = tolerance;
  r.shrinking = shrink_flag;
  r.qpsize = working_set_size;
  r.reactivated = false;

  r.alpha.assign(start_alpha, start_alpha + l);
  r.gradient.assign(l, 0.0);
  r.bound_state.assign(l, Bound_state::at_lower);
  r.position_map.resize(l);
  for (int p = 0; p < l; ++p) r.position_map[p] = p;
  if (with_bound_gradient) r.bound_gradient.assign(l, 0.0);

  const int q = r.qpsize;
  r.selection = Working_set_selection(q);
  r.working_set.assign(q, 0);
  r.previous_working_set.assign(q, -1);
  // A working set or batch never holds more than the l variables, so the
  // sub-problem arrays (the matrix their size squared) need no more room
  // than that, however large qpsize is.
  const int m = std::min(q, l);
  r.sub_alpha.assign(m, 0.0);
  r.sub_upper.assign(m, 0.0);
  r.sub_linear.assign(m, 0.0);
  r.sub_matrix.assign(static_cast<size_t>(m) * static_cast<size_t>(m), 0.0);
  r.columns.assign(m, nullptr);
  r.column_rows.assign(m, 0);
  r.batch_variables.assign(m, 0);
  r.column_steps.assign(m, 0.0);
  r.crossed_bounds.assign(m, 0.0);
  r.crossed_entered.assign(m, 0);
  start_schedule();
}

void Solver_B::start_schedule() {
  Run& r = run_;
  const long long twice_l = 2LL * r.var_count;
  r.period = static_cast<int>(std::min(twice_l / r.qpsize, 2000LL / r.qpsize));
  r.counter = r.period + 1;
  std::fill(r.previous_working_set.begin(), r.previous_working_set.end(), -1);
  r.iterations = 0;
  r.stall_snapshot = false;
}

Selection Solver_B::choose_working_set() {
  Run& r = run_;
  return r.selection.choose(r.gradient.data(), r.bound_state.data(), r.active_count,
                            r.working_set.data());
}

void Solver_B::shrink() {
  Run& r = run_;
  // One threshold for the whole step, measured before any variable moves.
  const double Gm = choose_working_set().Gmax;
  if (r.eps > Gm) return;

  int p = 0;
  while (p < r.active_count) {
    const bool settled = (r.bound_state[p] == Bound_state::at_lower && r.gradient[p] > Gm) ||
                         (r.bound_state[p] == Bound_state::at_upper && r.gradient[p] < -Gm);
    if (settled) {
      deactivate_at(p);  // another variable now sits at p: examine it too
    } else {
      ++p;
    }
  }

  if (r.reactivated || Gm > 10 * r.eps) return;

  // Near the end, once: judge the inactive variables with exact gradients
  // and bring back those shrunk too early.
  r.reactivated = true;
  rebuild_gradient();
  p = r.var_count - 1;
  while (p >= r.active_count) {
    const bool unsettled = (r.bound_state[p] == Bound_state::at_lower && r.gradient[p] <= Gm) ||
                           (r.bound_state[p] == Bound_state::at_upper && r.gradient[p] >= -Gm);
    if (unsettled) {
      reactivate_at(p);
    } else {
      --p;
    }
  }
}

bool Solver_B::next_working_set(int* count) {
  Run& r = run_;
  --r.counter;
  if (r.counter == 0) {
    r.counter = r.period;
    if (r.shrinking) shrink();
    log_info(progress, ".");
  }

  Selection selection = choose_working_set();
  if (r.eps > selection.Gmax) {
    // Full check: judge every variable with exact gradients.
    rebuild_gradient();
    r.active_count = r.var_count;
    log_info(progress, "*");
    selection = choose_working_set();
    if (r.eps > selection.Gmax) return false;
    after_failed_full_check();
    r.counter = 1;  // the next pass runs the shrinking step
  }

  // A working set equal to the previous one means the sub-problem solver
  // stagnates; this is checked only in passes that reset the counter.
  if (r.counter == r.period &&
      std::equal(r.working_set.begin(), r.working_set.end(), r.previous_working_set.begin())) {
    return false;
  }
  std::copy(r.working_set.begin(), r.working_set.end(), r.previous_working_set.begin());
  ++r.iterations;
  *count = selection.count;
  return true;
}

namespace {

// Equal to the last bit (NaN included).
template <typename T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), sizeof(T) * a.size()) == 0);
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
  Run& r = run_;
  if (r.period != 0) return false;
  const double shift = box_solver.cholesky_shift();
  if (r.stall_snapshot && r.active_count == r.stall_active_count &&
      r.reactivated == r.stall_reactivated &&
      std::memcmp(&shift, &r.stall_shift, sizeof shift) == 0 &&
      same_bits(r.alpha, r.stall_alpha) && same_bits(r.gradient, r.stall_gradient) &&
      same_bits(r.bound_gradient, r.stall_bound_gradient) &&
      r.position_map == r.stall_positions && r.working_set == r.stall_working_set)
    return true;
  r.stall_snapshot = true;
  r.stall_alpha = r.alpha;
  r.stall_gradient = r.gradient;
  r.stall_bound_gradient = r.bound_gradient;
  r.stall_positions = r.position_map;
  r.stall_working_set = r.working_set;
  r.stall_active_count = r.active_count;
  r.stall_reactivated = r.reactivated;
  r.stall_shift = shift;
  return false;
}

void Solver_B::iterate() {
  int count = 0;
  while (next_working_set(&count) && !stalled()) solve_working_set(count);
}

void Solver_B::load_working_set(int count) {
  Run& r = run_;
  for (int k = 0; k < count; ++k) {
    const int i = r.working_set[k];
    r.sub_linear[k] = r.gradient[i];
    r.sub_alpha[k] = r.alpha[i];
    r.sub_upper[k] = bound_of(i);
  }
}

void Solver_B::solve_subproblem(int count, double tolerance) {
  Run& r = run_;
  // g = G_B - M alpha_B: the linear term of the dual restricted to the
  // working set with every other variable fixed.
  const double* M = r.sub_matrix.data();
  const double* a = r.sub_alpha.data();
  double* g = r.sub_linear.data();
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
  problem.x = r.sub_alpha.data();
  problem.upper = r.sub_upper.data();
  problem.matrix = r.sub_matrix.data();
  problem.linear = r.sub_linear.data();
  box_solver.solve(problem);
}

void Solver_B::finish_run(double objective, const double* bounds, int bound_count,
                          Solve_result* result, double* caller_alpha) {
  result->objective = objective;
  result->bounds = static_cast<double*>(std::malloc(sizeof(double) * bound_count));
  for (int k = 0; k < bound_count; ++k) result->bounds[k] = bounds[k];
  for (int p = 0; p < run_.var_count; ++p) caller_alpha[run_.position_map[p]] = run_.alpha[p];
  run_ = Run();
}

void Solver_B::set_up(int l, Q_matrix& matrix, double* b, const signed char* sign,
                      const double* start, double cost_pos, double cost_neg, double tolerance,
                      int shrink_flag, int working_set_size) {
  Run& r = run_;
  r.q_matrix = &matrix;
  r.linear_term = b;
  r.C_pos = cost_pos;
  r.C_neg = cost_neg;
  r.signs.assign(sign, sign + l);
  start_run(l, start, tolerance, shrink_flag, working_set_size, true);
  for (int p = 0; p < l; ++p) update_bound_state(p);

  // Gradient of the starting point; variables at 0 contribute nothing. The
  // columns come qpsize at a time and enter each entry in position order.
  for (int p = 0; p < l; ++p) r.gradient[p] = r.linear_term[p];
  const Bound_state* const state = r.bound_state.data();
  for_column_batches(
      l, [state](int v) { return state[v] != Bound_state::at_lower; }, l, [](int v) { return v; },
      [this, &r, l](const int* batch, int count) {
        parallel_for(l, 2LL * count * l, [&](int begin, int end) {
          for (int k = 0; k < count; ++k) {
            const int i = batch[k];
            const float* const col = r.columns[k];
            const double a = r.alpha[i];
            for (int t = begin; t < end; ++t) r.gradient[t] += a * col[t];
            if (r.shrinking && r.bound_state[i] == Bound_state::at_upper) {
              const double bound = bound_of(i);
              for (int t = begin; t < end; ++t) r.bound_gradient[t] += bound * col[t];
            }
          }
        });
      });
}

void Solver_B::solve_working_set(int count) {
  Run& r = run_;
  const int* B = r.working_set.data();
  r.q_matrix->get_columns(B, count, r.active_count, r.columns.data());

  load_working_set(count);
  double* M = r.sub_matrix.data();
  for (int k = 0; k < count; ++k) {
    const float* col = r.columns[k];
    M[k + k * count] = col[B[k]];
    for (int m = k + 1; m < count; ++m) {
      const double v = col[B[m]];
      M[k + m * count] = v;
      M[m + k * count] = v;
    }
  }
  solve_subproblem(count, r.eps / 10);

  // The moved columns are added to the active gradient, and the columns of
  // the variables that entered or left their upper bound to the bound
  // gradient, each in working-set order; both passes split the entries
  // between threads.
  int moved = 0;
  int crossed = 0;
  apply_solution(
      count,
      [&r, &moved](int k, int, double delta) {
        r.columns[moved] = r.columns[k];
        r.column_steps[moved] = delta;
        ++moved;
      },
      [&r, &crossed](int k, int i, bool entered) {
        r.column_rows[crossed] = i;
        r.crossed_bounds[crossed] = r.sub_upper[k];
        r.crossed_entered[crossed] = entered;
        ++crossed;
      });
  add_columns(moved, r.column_steps.data(), r.gradient.data(), 0, r.active_count);
  if (crossed == 0) return;
  const int l = r.var_count;
  r.q_matrix->get_columns(r.column_rows.data(), crossed, l, r.columns.data());
  parallel_for(l, static_cast<long long>(crossed) * l, [&r, crossed](int begin, int end) {
    for (int c = 0; c < crossed; ++c) {
      const float* const col = r.columns[c];
      const double bound = r.crossed_bounds[c];
      if (r.crossed_entered[c]) {
        for (int t = begin; t < end; ++t) r.bound_gradient[t] += bound * col[t];
      } else {
        for (int t = begin; t < end; ++t) r.bound_gradient[t] -= bound * col[t];
      }
    }
  });
}

void Solver_B::optimize(int l, Q_matrix& matrix, double* b, const signed char* sign,
                        double* start, double cost_pos, double cost_neg, double tolerance,
                        Solve_result* result, int shrink_flag, int working_set_size) {
  set_up(l, matrix, b, sign, start, cost_pos, cost_neg, tolerance, shrink_flag,
         working_set_size);
  iterate();
  log_info(progress, "\noptimization finished, #iter = %d\n", run_.iterations);
  const double bounds[] = {run_.C_pos, run_.C_neg};
  const double* linear_term = run_.linear_term;
  finish_run(0.5, [linear_term](int p) { return linear_term[p]; }, bounds, 2, result, start);
}

}  // namespace tevra
