// Dual_coordinate_descent: the linear-kernel two-class and regression duals
// solved one variable at a time.
#ifndef TEVRA_LEARN_COORDINATE_DESCENT_DUAL_COORDINATE_DESCENT_H_
#define TEVRA_LEARN_COORDINATE_DESCENT_DUAL_COORDINATE_DESCENT_H_

#include <vector>

#include "learn/coordinate_descent/sample_order.h"
#include "learn/progress.h"
#include "learn/solver_b.h"
#include "learn/tevra.h"

namespace tevra {

// Implements the dual coordinate descent method with shrinking of Hsieh,
// Chang, Lin, Keerthi and Sundararajan (ICML 2008) for the two-class dual,
// and its extension to the L1-loss regression dual by Ho and Lin (JMLR
// 2012). Both duals are the ones the decomposition solvers solve, with the
// bias folded in as a constant feature 1 (x-bar = (x, 1)) and no equality
// constraint:
//   two-class:  min 1/2 a'Qa - e'a,  0 <= a_i <= C_{s_i},
//               Q_ij = s_i s_j x-bar_i . x-bar_j;
//   regression: min 1/2 b'Kb - y'b + p |b|_1,  -C <= b_i <= C,
//               K_ij = x-bar_i . x-bar_j, b = alpha - alpha*.
// Both are one family: each sample i has one variable v_i in [lo_i, hi_i]
// whose smooth gradient is g_i = s_i (w . x-bar_i) + t_i (t_i = -1 for
// two-class, -y_i for regression), with w = sum_i s_i v_i x-bar_i kept up
// to date. A pass visits the active samples in a random order and replaces
// each v_i by the exact minimiser of the dual along that coordinate:
//   v_i <- clip(v_i - (g_i + p sign)/Q_ii) (a soft threshold when p > 0).
// Shrinking, as in the paper: a variable at a bound whose gradient pushes it
// outwards more strongly than the previous pass's worst violation in the
// opposite direction leaves the active set; when the active set looks
// optimal every sample comes back once more.
//
// Stopping rule: the same -e as the decomposition solvers, the largest
// violation of the optimality conditions (|g| for a free variable, the
// part of g that points out of the box at a bound; for regression the
// conditions of alpha and alpha* both). A run stops only when a pass over
// every sample leaves each below eps and a check at the final w confirms
// it, or when a pass over every sample changes nothing (it would repeat
// forever) or leaves w not finite (data beyond the range of doubles).
//
// Samples are visited in an order drawn from Sample_order, so a run is the
// same to the bit everywhere. One object may serve several runs (the
// seeding steps of one problem); each run continues the same random
// stream.
class Dual_coordinate_descent {
 public:
  explicit Dual_coordinate_descent(const Progress& progress) : progress_(progress) {}
  Dual_coordinate_descent(const Dual_coordinate_descent&) = delete;
  Dual_coordinate_descent& operator=(const Dual_coordinate_descent&) = delete;

  // Two-class dual over l samples (the nodes stay borrowed). alpha: start on
  // entry, solution on return; w: the primal vector of the start (feature k
  // at w[k], the bias at w[bias_slot]), the final one on return. result gets
  // the objective and the bounds {C_pos, C_neg} (malloc'ed, the caller
  // frees them). Returns the number of passes.
  int solve_two_class(int l, Node* const* samples, const signed char* signs, double* alpha,
                      double* w, int bias_slot, double C_pos, double C_neg, double eps,
                      int shrinking, Solve_result* result);

  // Regression dual over l samples with targets y: alpha holds the 2l
  // variables alpha (first l) and alpha* (last l) of the decomposition
  // solvers; at most one of each pair is nonzero on return. Otherwise as
  // solve_two_class, with the cost C on both sides.
  int solve_regression(int l, Node* const* samples, const double* y, double p, double* alpha,
                       double* w, int bias_slot, double C, double eps, int shrinking,
                       Solve_result* result);

 private:
  // The run over the variables set up in v, lower, upper, sign, shift;
  // returns the number of passes.
  int run(double eps, int shrinking);

  // How far a variable is from optimal: the rate at which the dual would
  // fall if it moved up, and if it moved down (0 where it cannot move or
  // the dual would not fall).
  struct Violation {
    double up = 0;
    double down = 0;
    double size() const { return up > down ? up : down; }
  };
  // A variable at a bound leaves the active set when the dual rises
  // faster than up (moving up) or down (moving down) in every direction the
  // box allows.
  struct Shrink_thresholds {
    double up;
    double down;
  };

  // s_i (w . x-bar_i) + t_i; next: the nodes needed next, fetched ahead.
  double gradient(int i, const Node* next) const;
  // The violation of the optimality conditions of variable i at gradient g.
  Violation violation(int i, double g) const;
  // Whether variable i, at gradient g, sits at a bound and leaves.
  bool settled(int i, double g, const Shrink_thresholds& t) const;
  // The minimiser of the dual along coordinate i.
  double minimiser(int i, double g) const;
  // v_i <- z, and w with it.
  void move(int i, double z);
  // Largest violation over every sample at the current w.
  double largest_violation() const;
  // sum_i (1/2 (g_i + t_i) v_i + p |v_i|): the objective of the
  // decomposition solvers, 1/2 sum (G + b) alpha, written in v.
  double objective() const;

  const Progress& progress_;
  Sample_order order_;

  // The current run; borrowed arrays stay the caller's.
  int count_ = 0;                 // samples
  Node* const* samples_ = nullptr;
  double* w_ = nullptr;
  int bias_slot_ = 0;
  double p_ = 0;                  // weight of |v| (0 for two-class)
  std::vector<double> v_;         // the variables
  std::vector<double> lower_;     // lo_i
  std::vector<double> upper_;     // hi_i
  std::vector<double> sign_;      // s_i
  std::vector<double> shift_;     // t_i
  std::vector<double> diagonal_;  // Q_ii = |x_i|^2 + 1
  std::vector<int> length_;       // nodes of x_i
  std::vector<int> active_;       // samples of the active set (first active_count_)
};

}  // namespace tevra

#endif  // TEVRA_LEARN_COORDINATE_DESCENT_DUAL_COORDINATE_DESCENT_H_
