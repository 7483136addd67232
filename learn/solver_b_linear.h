// Solver_B_linear: Solver_B for the linear kernel, driven by an explicit
// primal weight vector instead of kernel columns.
#ifndef TEVRA_LEARN_SOLVER_B_LINEAR_H_
#define TEVRA_LEARN_SOLVER_B_LINEAR_H_

#include <vector>

#include "learn/packed_rows.h"
#include "learn/solver_b.h"
#include "learn/tevra.h"

namespace tevra {

// Solves the same bound-constrained dual as Solver_B for
//   Q(i, j) = s_i s_j (x_i . x_j + 1),
// where every gradient entry follows from the dense primal vector
//   w = sum_j s_j alpha_j x_j,  bias = sum_j s_j alpha_j,
//   G_i = s_i (w . x_i + bias) + b_i.
// Uses Solver_B's loop schedule, selection, shrinking, deactivate and
// reactivate; the sub-problem matrix comes from sparse dot products and the
// whole active gradient is recomputed from w after every iteration (no
// columns, no cache, no bound gradient).
//
// The bias has a slot of its own, w[bias_slot], apart from feature index 0,
// so that data using index 0 trains exactly the dual whose matrix the
// sub-problems are built from (and that prediction uses); on data without
// index 0 the arithmetic is the same as with a shared w[0].
//
// C_pos, C_neg, signs and linear_term are those of Solver_B::Run
// (linear_term pointing at this solver's own copy), so bound_of is
// inherited. optimize_linear returns its iteration count and leaves the
// final "optimization finished" line to its caller: alpha seeding runs
// several solves in a row and reports their total.
//
// For speed only (every value is the one the plain walks give): the gradient
// pass and the sub-problem matrix use Packed_rows, so four sums advance side
// by side, each adding its own products in its sample's order; positions
// that share a sample (the two variables of a regression sample) share one
// sum; the caller's w carries a zero slot for the padding. The sub-problem
// matrix walks one sample over the other scattered into a dense row, which
// adds the products of the merge walk in the same order when the nodes are
// in strictly increasing index order, as Problem promises; where the
// indices reach far beyond the data, it is the merge walk itself.
class Solver_B_linear : public Solver_B {
 public:
  // What a run holds besides Solver_B::Run: the samples, w and the packed
  // rows of the gradient pass.
  struct Primal_state {
    std::vector<double> own_linear_term;  // b, own copy (Run::linear_term points here)
    double* w = nullptr;                  // the caller's primal vector, updated in place
    int bias_slot = 0;                    // index of the bias entry of w
    int zero_slot = 0;                    // entries of w in use; padding index (w and
                                          // dense_sample hold 0 there)
    std::vector<const Node*> samples;     // sample of each position (nodes borrowed)
    std::vector<int> sample_length;       // nodes of samples[p], terminator excluded
    std::vector<double> dense_sample;     // all 0 except while fill_sub_matrix scatters a
                                          // sample; empty when the indices reach far beyond
                                          // the data (the merge walk then)

    // --- Rows of the gradient pass ---
    // A row is a distinct sample of the active positions (the two variables
    // of a regression sample share one); rows go longest first, so each
    // group of rows carries little padding.
    bool rows_stale = true;              // positions moved since active_rows was packed
    int rows_active = -1;                // active_count when active_rows was packed
    Packed_rows active_rows;             // the rows, packed for the gradient pass
    std::vector<int> row_first;          // positions of row r: row_positions[row_first[r] ..
                                         // row_first[r + 1] - 1]; empty for padding rows
    std::vector<int> row_positions;      // active positions, ordered by row
    Packed_rows working_rows;            // samples of the working set, in its order
    std::vector<const Node*> pack_rows;  // scratch: rows handed to Packed_rows::pack
    std::vector<int> pack_lengths;       // scratch: their lengths
  };

  using Solver_B::Solver_B;

  // Run over l variables. samples: l sample pointers (copied; nodes
  // borrowed); linear_term, signs: copied; alpha: start on entry, solution
  // in the caller's order on return; w: the caller's primal vector (feature
  // k at w[k], the bias at w[bias_slot]), which must match alpha on entry and
  // holds the final w on return. w has one entry more than it uses, at one
  // past the larger of bias_slot and the largest feature index: the padding
  // of the packed rows, which must be 0 and stays 0. Returns the number of
  // sub-problems solved.
  int optimize_linear(int l, Node* const* samples, const double* linear_term,
                      const signed char* signs, double* alpha, double* w, int bias_slot,
                      double C_pos, double C_neg, double eps, Solve_result* result, int shrinking,
                      int qpsize);

  void solve_working_set(int count) override;

 protected:
  void swap_variables(int i, int j) override;
  void rebuild_gradient() override;

 private:
  static constexpr int lanes = Packed_rows::lanes;

  // s_t (w . x_t + bias) + b_t, the sum accumulated in the sample's order.
  double gradient_from_w(int t) const;
  // Packs the distinct samples of the active positions into active_rows.
  void pack_active_rows();
  // gradient_from_w at every active position, from active_rows.
  void refresh_active_gradient();
  // M for the count positions of working_set: each sample is scattered into
  // dense_sample and the others' rows are walked over it.
  void fill_sub_matrix(int count);

  Primal_state primal_;
};

}  // namespace tevra

#endif  // TEVRA_LEARN_SOLVER_B_LINEAR_H_
