// Two-class (one pair of c_svc classes) and regression training: Solver_B
// over BSVC_Q / BSVR_Q, or Solver_B_linear (or dual coordinate descent
// under -a 1) with alpha seeding for the linear kernel.
#include "learn/train_bounded.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "learn/alpha_seeding.h"
#include "learn/coordinate_descent/dual_coordinate_descent.h"
#include "learn/q_matrices.h"
#include "learn/solver_b_linear.h"
#include "learn/training_routines.h"

namespace tevra {

namespace {

// Slot of the bias in the linear path's w: one past the largest feature
// index, so a feature with index 0 keeps a weight of its own. The samples are
// scanned as well, so a working problem with a stale max_index cannot make
// the solver write past w.
int bias_slot_of(const Problem& problem) {
  int largest = std::max(problem.max_index, 0);
  for (int i = 0; i < problem.sample_count; ++i) {
    for (const Node* x = problem.samples[i]; x->index != -1; ++x) largest = std::max(largest, x->index);
  }
  return largest + 1;
}

// Linear kernel: seeding from Cbegin, then the requested costs, each solve
// by Solver_B_linear or, under -a 1, by dual coordinate descent. Prints the
// summed iteration count, which neither solver prints itself.
void solve_linear(Training_run& run, const Problem& problem, const Parameter& param, int l,
                  Node* const* samples,
                  const double* linear_term, const signed char* signs, double* alpha,
                  double C_pos, double C_neg, double c_neg_start, Solve_result* result) {
  const int bias_slot = bias_slot_of(problem);
  // One w for every solve, with the padding slot Solver_B_linear needs.
  std::vector<double> w(static_cast<size_t>(bias_slot) + 2, 0.0);
  Solver_B_linear solver(run.box_solver, run.progress);
  Dual_coordinate_descent descent(run.progress);
  const Seeding_state state{l, samples, signs, alpha, w.data(), static_cast<int>(w.size()),
                            bias_slot};
  const int total = seed_alpha(
      state, C_pos, C_neg, param.Cbegin, c_neg_start, param.Cstep,
      [&](double c_pos, double c_neg) {
        // Every solve but the last hands back bounds nobody reads.
        std::free(result->bounds);
        result->bounds = nullptr;
        if (param.algorithm == 1 && param.svm_type == epsilon_svr) {
          return descent.solve_regression(problem.sample_count, problem.samples, problem.labels,
                                          param.p, alpha, w.data(), bias_slot, c_pos, param.eps,
                                          param.shrinking, result);
        }
        if (param.algorithm == 1) {
          return descent.solve_two_class(l, samples, signs, alpha, w.data(), bias_slot, c_pos,
                                         c_neg, param.eps, param.shrinking, result);
        }
        return solver.optimize_linear(l, samples, linear_term, signs, alpha, w.data(), bias_slot,
                                      c_pos, c_neg, param.eps, result, param.shrinking,
                                      param.qpsize);
      });
  log_info(run.progress, "\noptimization finished, #iter = %d\n", total);
}

}  // namespace

void solve_bounded_classification(Training_run& run, const Problem& problem,
                                  const Parameter& param, double* out, Solve_result* result,
                                  double C_pos, double C_neg) {
  const int l = problem.sample_count;
  std::vector<double> alpha(l, 0.0);
  std::vector<double> linear_term(l, -1.0);
  std::vector<signed char> signs(l);
  for (int i = 0; i < l; ++i) signs[i] = problem.labels[i] > 0 ? +1 : -1;

  if (param.kernel_type != linear) {
    BSVC_Q q_matrix(problem, param, signs.data());
    Solver_B solver(run.box_solver, run.progress);
    solver.optimize(l, q_matrix, linear_term.data(), signs.data(), alpha.data(), C_pos, C_neg,
                    param.eps, result, param.shrinking, param.qpsize);
  } else {
    solve_linear(run, problem, param, l, problem.samples, linear_term.data(), signs.data(),
                 alpha.data(), C_pos, C_neg, param.Cbegin * C_neg / C_pos, result);
  }

  double sum_alpha = 0;
  for (int i = 0; i < l; ++i) sum_alpha += alpha[i];
  log_info(run.progress, "nu = %f\n", sum_alpha / (l * param.C));
  for (int i = 0; i < l; ++i) out[i] = signs[i] * alpha[i];
}

void solve_bounded_regression(Training_run& run, const Problem& problem, const Parameter& param,
                              double* out, Solve_result* result) {
  const int l = problem.sample_count;
  std::vector<double> alpha(2 * static_cast<size_t>(l), 0.0);
  std::vector<double> linear_term(2 * static_cast<size_t>(l));
  std::vector<signed char> signs(2 * static_cast<size_t>(l));
  for (int i = 0; i < l; ++i) {
    linear_term[i] = param.p - problem.labels[i];
    signs[i] = +1;
    linear_term[l + i] = param.p + problem.labels[i];
    signs[l + i] = -1;
  }

  if (param.kernel_type != linear) {
    BSVR_Q q_matrix(problem, param);
    Solver_B solver(run.box_solver, run.progress);
    solver.optimize(2 * l, q_matrix, linear_term.data(), signs.data(), alpha.data(), param.C,
                    param.C, param.eps, result, param.shrinking, param.qpsize);
  } else {
    // Both variables of a sample share its nodes.
    std::vector<Node*> samples(2 * static_cast<size_t>(l));
    for (int i = 0; i < l; ++i) samples[i] = samples[l + i] = problem.samples[i];
    solve_linear(run, problem, param, 2 * l, samples.data(), linear_term.data(), signs.data(),
                 alpha.data(), param.C, param.C, param.Cbegin, result);
  }

  double sum = 0;
  for (int i = 0; i < l; ++i) {
    out[i] = alpha[i] - alpha[l + i];
    sum += std::fabs(out[i]);
  }
  log_info(run.progress, "nu = %f\n", sum / (l * param.C));
}

double* train_bounded_problem(Training_run& run, const Problem& problem, const Parameter& param,
                              double C_pos, double C_neg) {
  const int l = problem.sample_count;
  Malloced_array<double> coefficients(
      static_cast<double*>(std::malloc(sizeof(double) * std::max(l, 1))));
  Solve_result result{0, nullptr};
  if (param.svm_type == epsilon_svr) {
    solve_bounded_regression(run, problem, param, coefficients.get(), &result);
  } else {
    solve_bounded_classification(run, problem, param, coefficients.get(), &result, C_pos,
                                 C_neg);
  }
  log_info(run.progress, "obj = %f, rho = %f\n", result.objective, 0.0);

  int sv_count = 0;
  int bounded_count = 0;
  for (int i = 0; i < l; ++i) {
    const double c = std::fabs(coefficients[i]);
    if (!(c > 0)) continue;
    ++sv_count;
    const double bound = problem.labels[i] > 0 ? result.bounds[0] : result.bounds[1];
    if (c >= bound) ++bounded_count;
  }
  log_info(run.progress, "nSV = %d, nBSV = %d\n", sv_count, bounded_count);
  std::free(result.bounds);
  require_finite_solution(result.objective, coefficients.get(), static_cast<std::size_t>(l));
  return coefficients.release();
}

}  // namespace tevra
