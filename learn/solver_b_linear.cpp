// Solver_B_linear: the run of the linear kernel over an explicit w.
#include "learn/solver_b_linear.h"

#include <cmath>
#include <cstdlib>
#include <utility>

#include "learn/kernel.h"

namespace tevra {

namespace {

// See Solver_B: smaller changes are dropped.
constexpr double negligible_change = 1e-12;

}  // namespace

double Solver_B_linear::gradient_from_w(int t) const {
  double sum = 0;
  for (const Node* x = samples[t]; x->index != -1; ++x) sum += w[x->index] * x->value;
  return signs[t] * (sum + w[bias_slot]) + linear_term[t];
}

void Solver_B_linear::swap_variables(int i, int j) {
  std::swap(signs[i], signs[j]);
  swap_shared_entries(i, j);
  std::swap(linear_term[i], linear_term[j]);
  std::swap(samples[i], samples[j]);
}

void Solver_B_linear::rebuild_gradient() {
  for (int t = active_count; t < var_count; ++t) gradient[t] = gradient_from_w(t);
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
  if (!all_at_lower) {
    for (int p = 0; p < l; ++p) gradient[p] = gradient_from_w(p);
  }

  start_schedule();
  int count = 0;
  double* M = sub_matrix.data();
  while (next_working_set(&count) && !stalled()) {
    const int* B = working_set.data();
    for (int k = 0; k < count; ++k) {
      const int i = B[k];
      sub_linear[k] = gradient[i];
      sub_alpha[k] = alpha[i];
      sub_upper[k] = bound_of(i);
      // The sign product of the diagonal is always 1 and is not applied.
      M[k + k * count] = dot(samples[i], samples[i]) + 1;
      for (int m = k + 1; m < count; ++m) {
        const int j = B[m];
        const double v = static_cast<double>(signs[i] * signs[j]) * (dot(samples[i], samples[j]) + 1);
        M[k + m * count] = v;
        M[m + k * count] = v;
      }
    }
    // Tighter than Solver_B: errors of the sub-problem go straight into w.
    solve_subproblem(count, eps / 100);

    for (int k = 0; k < count; ++k) {
      const int i = B[k];
      const double delta = sub_alpha[k] - alpha[i];
      if (!(std::fabs(delta) > negligible_change)) continue;
      alpha[i] = sub_alpha[k];
      update_bound_state(i);
      const double step = signs[i] * delta;
      for (const Node* x = samples[i]; x->index != -1; ++x) w[x->index] += step * x->value;
      w[bias_slot] += step;
    }
    for (int t = 0; t < active_count; ++t) gradient[t] = gradient_from_w(t);
  }

  double sum = 0;
  for (int p = 0; p < l; ++p) sum += (gradient[p] + linear_term[p]) * alpha[p];
  result->objective = 0.5 * sum;
  result->bounds = static_cast<double*>(std::malloc(2 * sizeof(double)));
  result->bounds[0] = C_pos;
  result->bounds[1] = C_neg;
  write_back_alpha(start);
  const int solved = iterations;
  release_run();
  std::vector<double>().swap(own_linear_term);
  std::vector<const Node*>().swap(samples);
  linear_term = nullptr;
  w = nullptr;
  return solved;
}

}  // namespace tevra
