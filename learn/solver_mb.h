// Solver_MB: decomposition solver of the single-problem multi-class dual
// (kbb). With n classes and l0 samples there is one variable per pair
// (sample s, competing class m != y(s)), bounded by the cost of y(s):
//   minimise 1/2 a'Qa + b * sum(a) subject to 0 <= a(s, m) <= class_C[y(s)],
//   Q((s, m), (s', m')) = ([y = y'] + [m = m'] - [y = m'] - [m = y']) (K(s, s') + 1).
#ifndef TEVRA_LEARN_SOLVER_MB_H_
#define TEVRA_LEARN_SOLVER_MB_H_

#include <vector>

#include "learn/q_matrix.h"
#include "learn/solver_b.h"

namespace tevra {

// Runs Solver_B's decomposition loop, selection and shrinking over the
// variables of the multi-class dual. It never forms a Q column over
// variables: the variables are kept grouped in blocks by (own class,
// competing class), kernel columns are fetched by sample from a
// BONE_CLASS_Q, and a change of one variable reaches only the blocks whose
// class coefficient is nonzero.
//
// Block beta(y, m) = y + n*m holds the variables of own class y and
// competing class m (blocks with y = m stay empty). At all times the active
// variables of block beta sit at positions [block_start[beta],
// block_start[beta + 1]) and its inactive ones at [inactive_start[beta],
// inactive_start[beta + 1]); deactivate and reactivate keep that layout.
//
// When a failed full check returns the variables to the canonical order,
// working_set and previous_working_set are mapped through the same
// permutation, so the sub-problem is built on the variables the selection
// chose rather than on whatever now sits at their old positions.
class Solver_MB : public Solver_B {
 public:
  // What a run holds besides Solver_B::Run: the classes of the variables
  // and their block layout.
  struct Blocks {
    // In full ints: 16 bits would wrap beyond 32767 classes.
    std::vector<int> own_class;        // class of the variable's sample; own copy
    std::vector<int> other_class;      // competing class of the variable
    const double* class_C = nullptr;   // upper bound per class (borrowed)
    double linear_constant = 0;        // b, shared by every variable
    std::vector<int> sample_of;        // sample (class-sorted order) of the variable
    int sample_count = 0;              // l0 = var_count / (class_count - 1)
    int class_count = 0;               // n
    std::vector<int> block_start;      // n*n + 1 starts of the active block ranges
    std::vector<int> inactive_start;   // n*n + 1 starts of the inactive block ranges
    const int* class_sizes = nullptr;  // samples per class (borrowed), for re-layout
  };

  // Which part of each coupled block a spread reaches.
  enum class Ranges { active, inactive, both };

  using Solver_B::Solver_B;

  // Runs over l = (class_count - 1) * l0 variables given in the canonical
  // order of lay_out_blocks. q_matrix is a BONE_CLASS_Q over the l0
  // class-sorted samples; own_class is copied; class_C and class_sizes are
  // borrowed; alpha is the start on entry and the solution on return.
  // result->bounds receives a copy of class_C (class_count entries).
  void optimize(int l, Q_matrix& q_matrix, double linear_constant, double* alpha,
                const int* own_class, const double* class_C, double eps, Solve_result* result,
                int shrinking, int qpsize, int class_count, const int* class_sizes);

  // The classes and block layout of the current run, read-only.
  const Blocks& blocks() const { return blocks_; }

  // --- The steps of optimize ---

  // Sets up the run (everything before the main loop).
  void set_up(int l, Q_matrix& q_matrix, double linear_constant, const double* alpha,
              const int* own_class, const double* class_C, double eps, int shrinking,
              int qpsize, int class_count, const int* class_sizes);
  void solve_working_set(int count) override;
  // Returns every variable to the canonical order (resetting active_count
  // to l alone would break the block layout), carrying working_set and
  // previous_working_set along; the layout is made afresh with every
  // variable active.
  void restore_canonical_order();

  // Block number of the variable at position i.
  int block_of(int i) const {
    return blocks_.own_class[i] + blocks_.class_count * blocks_.other_class[i];
  }

  // For a change of `scale` in a variable of classes (y, m) whose sample
  // has kernel column col: target[p] += coefficient * scale *
  // col[sample_of[p]] for every p of the coupled blocks, within `ranges`.
  // The +-2 blocks form the product as (2 * scale) * col.
  void spread(int y, int m, double scale, const float* col, double* target,
              Ranges ranges) const;

 protected:
  double bound_of(int i) const override;
  void swap_variables(int i, int j) override;
  void rebuild_gradient() override;
  void deactivate(int i) override;
  void reactivate(int i) override;
  void after_failed_full_check() override;

 private:
  // Canonical order: for each competing class m, for each own class y != m,
  // the samples of class y in order. Resets other_class, sample_of,
  // position_map and both block arrays with every variable active; leaves
  // own_class alone.
  void lay_out_blocks();

  // Calls visit(block, coefficient) for every block coupled with block
  // beta(y, m), in the order beta(y, m), beta(m, y), then for each class t
  // other than y and m: beta(y, t), beta(t, m), beta(t, y), beta(m, t).
  template <class Visit>
  void visit_coupled_blocks(int y, int m, Visit visit) const {
    const int n = blocks_.class_count;
    visit(y + n * m, 2);
    visit(m + n * y, -2);
    for (int t = 0; t < n; ++t) {
      if (t == y || t == m) continue;
      visit(y + n * t, 1);
      visit(t + n * m, 1);
      visit(t + n * y, -1);
      visit(m + n * t, -1);
    }
  }

  Blocks blocks_;
};

}  // namespace tevra

#endif  // TEVRA_LEARN_SOLVER_MB_H_
