// Sequential_dual_crammer_singer: the linear-kernel Crammer and Singer
// duals solved one sample at a time over an explicit weight matrix.
#ifndef TEVRA_LEARN_COORDINATE_DESCENT_SEQUENTIAL_DUAL_H_
#define TEVRA_LEARN_COORDINATE_DESCENT_SEQUENTIAL_DUAL_H_

#include <vector>

#include "learn/coordinate_descent/sample_order.h"
#include "learn/progress.h"
#include "learn/tevra.h"

namespace tevra {

// Implements the sequential dual method of Keerthi, Sundararajan, Chang,
// Hsieh and Lin (KDD 2008) for the duals that Solver_CS solves (spoc and
// spoc_l2, no bias), with the linear kernel:
//   min 1/2 sum_m |w_m|^2 + 1/2 sum_i d_{y_i} (alpha_i^{y_i})^2
//       + sum_i sum_{m != y_i} alpha_i^m,   w_m = sum_i alpha_i^m x_i,
//   sum_m alpha_i^m = 0, alpha_i^m <= 0 (m != y_i), alpha_i^{y_i} <= U_{y_i}.
// A pass visits the active samples in a random order; for each it forms the
// gradient G_i^m = w_m . x_i + e_i^m (+ d alpha for the label) of its
// active classes and, if the sample violates its optimality conditions,
// replaces its variables by the exact minimiser of its k-variable
// sub-problem (solve_crammer_singer_step, with A = |x_i|^2), then moves
// the w_m of the classes that changed.
// Shrinking: a class other than the label whose variable is 0 and whose
// gradient lies below every free one by more than the largest violation of
// the previous pass drops out of its sample's sub-problem; a sample left
// with its label alone (all its variables 0) drops out of the pass. When the
// rest looks optimal, every sample and class comes back once more.
//
// Stopping rule: the same -e as Solver_CS: the largest violation
//   max_m G_i^m - min_{m below its bound} G_i^m
// over the samples; a run stops when a pass over every sample and class
// leaves each below eps and a check at the final w confirms it, or when
// such a pass changes nothing or leaves a value that is not finite.
//
// Samples are visited in an order drawn from Sample_order, so a run is the
// same to the bit everywhere.
class Sequential_dual_crammer_singer {
 public:
  explicit Sequential_dual_crammer_singer(const Progress& progress) : progress_(progress) {}
  Sequential_dual_crammer_singer(const Sequential_dual_crammer_singer&) = delete;
  Sequential_dual_crammer_singer& operator=(const Sequential_dual_crammer_singer&) = delete;

  // Solves over l samples (nodes borrowed) and nr_class classes. alpha holds
  // l*nr_class values, alpha_i^m at i*nr_class + m: the feasible start on
  // entry, the solution on return. labels: each sample's class index;
  // class_C: the cost of each class. svm_type 4 selects the L2-loss
  // variant. Prints the summary lines of Solver_CS, with the number of
  // passes as the iteration count. Returns the objective, as printed.
  double solve(int l, Node* const* samples, double* alpha, const int* labels,
             const double* class_C, double eps, int shrinking, int nr_class, int svm_type);

 private:
  // The passes; returns their number.
  int run(double eps, int shrinking);
  // What one look at a sample finds: max_m G - min_{m free} G over the
  // classes looked at, and that minimum.
  struct Measure {
    double violation;
    double min_free;
  };
  // G of the first count classes in classes of sample i into G, and its
  // measure over them.
  Measure gradient(int i, const int* classes, int count, double* G) const;
  void prefetch_sample(int i) const;
  // w_m += step x_i.
  void add_to_class(int i, int m, double step);
  const double* weights_of(int m) const { return &w_[static_cast<std::size_t>(m) * features_]; }
  // Whether the variable of sample i for class m is below its bound.
  bool below_bound(int i, int m) const {
    const double a = alpha_[static_cast<std::size_t>(i) * classes_ + m];
    return m == labels_[i] ? a < label_bound_[m] : a < 0;
  }
  // Largest violation over every sample and class at the current w.
  double largest_violation();
  // 1/2 sum (G + e) alpha over every variable.
  double objective();

  const Progress& progress_;
  Sample_order order_;

  int count_ = 0;                        // samples l
  int classes_ = 0;                      // classes k
  int features_ = 0;                     // rows of w
  Node* const* samples_ = nullptr;
  double* alpha_ = nullptr;              // the caller's, alpha_i^m at i*k + m
  const int* labels_ = nullptr;
  const double* class_C_ = nullptr;
  std::vector<double> w_;                // w_m[f] at m*features_ + f
  std::vector<double> square_;           // A_i = |x_i|^2
  std::vector<int> length_;              // nodes of x_i
  std::vector<double> label_diagonal_;   // d_c
  std::vector<double> label_bound_;      // U_c
  std::vector<int> class_order_;         // per sample, its label first, then the
                                         // other classes; the first class_count_[i] active
  std::vector<int> class_count_;
  std::vector<int> active_;              // samples of the active set

  // Work vectors of one sample, k values each (the sort buffer k + 1).
  std::vector<double> G_;
  std::vector<double> all_G_;
  std::vector<double> B_;
  std::vector<double> step_;
  std::vector<double> sort_buffer_;
};

}  // namespace tevra

#endif  // TEVRA_LEARN_COORDINATE_DESCENT_SEQUENTIAL_DUAL_H_
