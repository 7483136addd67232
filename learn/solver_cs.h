// Solver_CS: decomposition solver of the Crammer and Singer multi-class
// duals (spoc and its L2-loss variant spoc_l2). With l samples, k classes,
// y_i the class of sample i and alpha_i^m stored at i*k + m, it solves
//
//   minimise 1/2 sum_m alpha^m' Q alpha^m + 1/2 sum_i d_{y_i} (alpha_i^{y_i})^2
//            + sum_i sum_{m != y_i} alpha_i^m
//   subject to sum_m alpha_i^m = 0, alpha_i^m <= 0 (m != y_i),
//              alpha_i^{y_i} <= U_{y_i},
//
// with d_c = 0, U_c = C_c for spoc and d_c = 0.5 / C_c, U_c = +inf for
// spoc_l2. The working set is the k variables of one sample, whose
// sub-problem is solved in closed form after one sort.
#ifndef TEVRA_LEARN_SOLVER_CS_H_
#define TEVRA_LEARN_SOLVER_CS_H_

#include <cstddef>
#include <utility>
#include <vector>

#include "learn/progress.h"
#include "learn/q_matrix.h"
#include "learn/tevra.h"

namespace tevra {

// Implements the decomposition method of Crammer and Singer: each step
// takes the sample whose variables violate their optimality conditions most
// and solves its k-variable sub-problem exactly (sort, then a fixed-point
// walk). The formulations have no bias, and spoc_l2 adds the squared-loss
// diagonal with no upper bound. Samples whose non-label variables sit at
// their bound with a gradient margin are shrunk away for a while, with their
// gradient rebuilt before the end. A run also stops when the sample chosen
// right after a shrinking step is the one just updated, which guards
// against endless rounding-level updates.
//
// Everything a solve holds is one Run, created by initialize and released
// by finish. The single steps are public, and the run can be read (and, for
// a test, replaced) as a whole, so that each step can be checked on its
// own.
class Solver_CS {
 public:
  // The state of one solve.
  struct Run {
    Q_matrix* Q = nullptr;               // supplies columns and follows sample swaps
    double eps = 0;                      // stopping tolerance on the violation
    const double* class_C = nullptr;     // C_c per class, borrowed from the caller
    int svm_type = 0;                    // 4 selects the L2-loss variant
    int sample_count = 0;                // l
    int nr_class = 0;                    // k
    std::vector<double> label_diagonal;  // d_c: 0.5 / C_c for spoc_l2, else 0
    std::vector<double> label_bound;     // U_c: +inf for spoc_l2, else C_c

    int active_count = 0;            // active samples occupy positions 0 .. active_count-1
    std::vector<double> gradient;    // G_i^m at class_entry(i, m), permuted with the samples
    std::vector<int> labels;         // y_i of the sample at each position
    std::vector<double> alpha;       // dual variables at entry(i, m), permuted with the samples
    std::vector<int> active_order;   // caller's index of the sample at each position
    bool unshrunk = false;           // the one unshrinking pass has run
    // At class_entry(i, m): -0 where alpha is strictly below its upper
    // bound, +inf where it is at the bound. Added to the gradient entry it
    // gives the entry itself (x + -0 == x for every x) or a value that never
    // beats the running minimum, which is how the selection skips bounded
    // variables without a branch.
    std::vector<double> bound_shift;
    // Some gradient entry was set to -0. Only then can adding an exact +0 to
    // the gradient change a bit (-0 + 0 = +0), so only then must classes
    // whose alpha did not move still take their zero column terms.
    bool negative_zero_gradient = false;

    int iter = 0;                      // one-sample updates made so far
    bool next_known = false;           // next_sample and next_violation hold for the
                                       // current gradient and active set
    int next_sample = -1;              // what select_sample would choose now
    double next_violation = 0;         // and the violation it would return
    std::vector<double> sub_linear;    // B of the current sub-problem (k values)
    std::vector<double> sub_solution;  // its new values (k values)
    std::vector<double> sub_change;    // new minus old values (k values)
    std::vector<double> sort_buffer;   // k sorted values and the -inf sentinel
    std::vector<int> moved_classes;    // classes whose column terms an update adds
    std::vector<char> is_moved;        // per class: listed in moved_classes

    // Per position, the two extremes the selection takes its violation
    // from, kept up to date by update_sample so that a step re-reads only
    // the classes it moved: the largest gradient entry and the smallest
    // entry plus bound shift, each with the first class (in class order)
    // that holds it, or -1 when no class does (the extreme is then the
    // starting value -inf or +inf). Valid for the active positions while
    // extremes_known is set.
    bool extremes_known = false;
    std::vector<double> largest;
    std::vector<double> smallest;
    std::vector<int> largest_class;
    std::vector<int> smallest_class;
  };

  // Progress marks and the summary lines go to progress.
  explicit Solver_CS(const Progress& progress) : progress(progress) {}
  Solver_CS(const Solver_CS&) = delete;
  Solver_CS& operator=(const Solver_CS&) = delete;

  // Solves over l samples and nr_class classes. alpha holds l*nr_class
  // values: the feasible starting point on entry, the solution in the
  // caller's sample order on return. labels holds each sample's class index;
  // class_C the cost of each class (borrowed for the run). svm_type 4
  // selects the L2-loss variant, any other value the hinge-loss one. Q is
  // asked for columns and told about every exchange of two samples. Returns
  // the final objective, as printed.
  double solve(int l, Q_matrix& Q, double* alpha, const int* labels, const double* class_C,
             double eps, int shrinking, int nr_class, int svm_type);

  // Iterations between two shrinking steps (and progress marks) for l
  // samples.
  static int shrink_period(int l) { return l < 1000 ? 2 * l : 2000; }

  // The current solve, read-only; empty between solves.
  const Run& run() const { return run_; }

  // Index of alpha_i^m (and of its caller-order twin): sample-major, the k
  // values of a sample side by side.
  std::size_t entry(int i, int m) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(run_.nr_class) +
           static_cast<std::size_t>(m);
  }
  // Index of G_i^m and of its bound shift: class-major, so that the
  // per-iteration passes over the active samples run along contiguous
  // stretches of one class and vectorise.
  std::size_t class_entry(int i, int m) const {
    return static_cast<std::size_t>(m) * static_cast<std::size_t>(run_.sample_count) +
           static_cast<std::size_t>(i);
  }

  // --- The steps of solve ---

  // Copies the starting point and labels, fills the per-class constants and
  // the bound shifts, and computes the gradient from scratch.
  void initialize(int l, Q_matrix& Q, const double* alpha, const int* labels,
                  const double* class_C, double eps, int nr_class, int svm_type);

  // The main loop: selection, one-sample update, shrinking schedule.
  void iterate(int shrinking);

  // Prints the summary lines, writes the solution back in the caller's
  // order and releases the run; returns the objective.
  double finish(double* alpha_out);

  // Largest violation over the active samples; *i receives the sample that
  // has it, or -1 when no active sample has a finite violation (then the
  // result is -inf).
  double select_sample(int* i) const;

  // Solves the sub-problem of active sample i and updates alpha, the bound
  // shifts and the gradient of the active samples. The same pass makes the
  // next selection (next_sample, next_violation) while the gradient is hot.
  void update_sample(int i);

  // Removes samples from the active set; once per run brings some back.
  void shrink();

  // Recomputes the gradient of the inactive samples.
  void rebuild_gradient();

  // Exchanges the samples at positions i and j, in Q too.
  void swap_samples(int i, int j);

  // Replaces the current run by state, from which the steps then go on.
  // Tests put the solver into states of their own making this way; state
  // must be one a solve could be in.
  void replace_run(Run state) { run_ = std::move(state); }

 private:
  // Upper bound of variable (position i, class m).
  double upper_bound(int i, int m) const {
    return m == run_.labels[i] ? run_.label_bound[m] : 0.0;
  }
  // The bound_shift value of variable (position i, class m) for the current
  // alpha.
  double shift_of(int i, int m) const;
  bool below_bound(int i, int m) const { return run_.bound_shift[class_entry(i, m)] == 0; }

  // The gradient from scratch at the positions from first to l-1: 1 for
  // every class, the label's d term, then the column terms of every active
  // sample with a nonzero alpha (columns of length l). With every sample
  // active this is the whole gradient; otherwise the inactive samples'
  // own terms are 0 (see rebuild_gradient).
  void gradient_from_scratch(int first);

  // Largest violation over the samples begin .. end-1, ties to the first:
  // raises *best and sets *chosen when one of them beats *best.
  void select_among(int begin, int end, double* best, int* chosen) const;

  // The extremes of position j from all its classes.
  void scan_extremes(int j);
  // The extremes of position j after the classes in moved_classes changed
  // their gradient entries (and nothing else changed); falls back to
  // scan_extremes when an extreme may have left its class.
  void follow_extremes(int j);

  Progress progress;  // where "." "*" and the summary lines go
  Run run_;
};

}  // namespace tevra

#endif  // TEVRA_LEARN_SOLVER_CS_H_
