// Solver_B: decomposition solver of the bound-constrained duals
//   minimise 1/2 a'Qa + b'a subject to 0 <= a_i <= C_i,
// with working sets of at most qpsize variables solved by the box
// sub-problem solver, and shrinking. Solver_B_linear and Solver_MB derive
// from it and reuse its loop schedule, selection and shrinking.
#ifndef TEVRA_LEARN_SOLVER_B_H_
#define TEVRA_LEARN_SOLVER_B_H_

#include <vector>

#include "learn/box/box_solver.h"
#include "learn/q_matrix.h"
#include "learn/progress.h"

namespace tevra {

// Result of one optimize run, filled by the solver.
struct Solve_result {
  double objective;  // final value of the dual objective
  double* bounds;    // upper bounds of the run (malloc'ed; caller frees)
};

// State of a variable relative to its box.
enum class Bound_state : unsigned char { at_lower = 0, at_upper = 1, free = 2 };

// Outcome of one working-set selection.
struct Selection {
  double Gmax;  // largest violation among the phase-2 candidates (>= 0)
  int count;    // number of leading working_set entries written
};

// Decomposition method without an equality constraint: every variable moves
// on its own, so selection needs no pairs. Each iteration takes up to qpsize
// variables (half of them the free ones closest to optimal, the rest the
// worst violators), solves their sub-problem exactly with the run's
// Box_solver, and updates the gradient from Q columns.
//
// Variables live at positions; shrinking moves settled bound variables past
// active_count and swap_variables keeps every per-position array and the
// Q matrix in step. The gradient of inactive positions is only refreshed by
// rebuild_gradient, from bound_gradient (the contribution of the variables
// at their upper bound), which is why it is kept only with shrinking on.
//
// The objective is reported from the gradient as it stands at the end of the
// run, without refreshing inactive entries first.
//
// Deviations from the plain design: the per-run arrays are std::vector
// members, created by optimize and emptied before it returns; the loop
// schedule (period, counter, iterations) and the sub-problem arrays are
// members too, so the three optimize operations share next_working_set and
// solve_subproblem instead of repeating the loop's first steps.
class Solver_B {
 public:
  // Sub-problems go to box_solver (borrowed for the life of the object),
  // progress marks to progress.
  Solver_B(Box_solver& box_solver, const Progress& progress)
      : box_solver(box_solver), progress(progress) {}
  virtual ~Solver_B() = default;
  Solver_B(const Solver_B&) = delete;
  Solver_B& operator=(const Solver_B&) = delete;

  // Kernel-based run over l variables. linear_term is borrowed and left
  // permuted; signs and alpha are copied; alpha returns the solution in the
  // caller's order. qpsize >= 2.
  virtual void optimize(int l, Q_matrix& q_matrix, double* linear_term, const signed char* signs,
                        double* alpha, double C_pos, double C_neg, double eps,
                        Solve_result* result, int shrinking, int qpsize);

 protected:
  // Upper bound of the variable at position i.
  virtual double bound_of(int i) const;
  // Positions i and j trade places in every per-position array.
  virtual void swap_variables(int i, int j);
  // Recomputes the gradient at every inactive position.
  virtual void rebuild_gradient();
  // The caller has already decreased active_count: i trades places with the
  // first inactive position.
  virtual void deactivate(int i);
  // The caller increases active_count afterwards: i becomes the last active
  // position.
  virtual void reactivate(int i);
  // Called right after a full optimality check that did not end the run
  // (all variables active again, working_set freshly selected). Solver_MB
  // restores its canonical variable order here and must map working_set and
  // previous_working_set through the same permutation. Default: nothing.
  virtual void after_failed_full_check();

  // Fills the leading entries of working_set with the next working set.
  Selection choose_working_set();
  // Deactivates settled bound variables; once, near the end, brings back
  // those taken out too early.
  void shrink();

  // Sets bound_state[p] from alpha[p]: at_upper if alpha >= bound_of(p),
  // else at_lower if alpha <= 0, else free.
  void update_bound_state(int p);

  // Allocates the arrays shared by all three solvers for l variables:
  // gradient, bound_state, alpha (copied from start_alpha), position_map
  // (identity), bound_gradient (zeros, only when with_bound_gradient),
  // working_set, previous_working_set and the sub-problem arrays. Sets
  // var_count, active_count, qpsize, eps, shrinking, reactivated; bound
  // states are left for the caller (bound_of may need its own members).
  void allocate_run(int l, const double* start_alpha, double eps, int shrinking, int qpsize,
                    bool with_bound_gradient);
  // Loop schedule set-up: period, counter, previous_working_set = -1,
  // iterations = 0.
  void start_schedule();
  // Steps shared by every main loop: counter and period (shrink and "."),
  // selection, the full check (rebuild_gradient, "*", re-selection,
  // after_failed_full_check), the comparison with previous_working_set, the
  // copy into it and the iteration count. Returns false when the run must
  // stop; otherwise *count positions of working_set form the next
  // sub-problem.
  bool next_working_set(int* count);
  // Called after next_working_set by the loops of Solver_B and
  // Solver_B_linear: true when the run can only repeat itself (see the
  // definition), which ends it like a repeated working set does.
  bool stalled();
  // With sub_matrix filled for count variables and sub_alpha, sub_linear
  // holding alpha and gradient of the working set: subtracts M*alpha_B from
  // sub_linear in the order pairs are visited, then solves the box
  // sub-problem in place of sub_alpha with the given tolerance.
  void solve_subproblem(int count, double tolerance);
  // Hands the free active variables to use(variables, count) qpsize at a
  // time, in position order, with columns[0..count-1] holding their Q
  // columns of length len; row_of(v) is the column of variable v. qpsize
  // columns are as many as the cache always holds at once.
  template <typename Row_of, typename Use>
  void for_free_column_batches(int len, Row_of row_of, Use use);
  // Exchanges entries i and j of the arrays every solver keeps per
  // position: gradient, bound_state, alpha and position_map. Each
  // swap_variables adds the arrays of its own.
  void swap_shared_entries(int i, int j);
  // caller_alpha[position_map[p]] = alpha[p] for every p.
  void write_back_alpha(double* caller_alpha) const;
  // Releases every array that allocate_run created.
  void release_run();

  Box_solver& box_solver;  // solves every sub-problem; its shift carries over
  Progress progress;       // where "." "*" and the final line go

  // --- Solver state (set up by each run; empty between runs) ---
  int active_count = 0;                  // active variables occupy positions 0..active_count-1
  std::vector<double> gradient;          // G = Q alpha + b; exact at active positions only
  std::vector<Bound_state> bound_state;  // at_lower / at_upper / free per position
  std::vector<double> alpha;             // the variables, in position order (own copy)
  Q_matrix* q_matrix = nullptr;          // Q-matrix object, borrowed from the caller
  double eps = 0;                        // stopping tolerance
  std::vector<int> position_map;         // caller's index of the variable at each position
  std::vector<double> bound_gradient;    // sum over j at upper bound of C_j Q(p, j); shrinking only
  int var_count = 0;                     // number of variables l
  bool reactivated = false;              // the one-time reactivation has happened
  int qpsize = 0;                        // working-set size
  std::vector<int> working_set;          // positions of the last selection (qpsize entries)
  std::vector<int> previous_working_set; // working_set as in the previous iteration
  double C_pos = 0;                      // upper bound of variables with sign > 0
  double C_neg = 0;                      // upper bound of the other variables
  double* linear_term = nullptr;         // b, permuted in place with the positions
  std::vector<signed char> signs;        // +1 or -1 per position (own copy)

  // --- Loop schedule ---
  int shrinking = 0;   // 1: shrink every period and keep bound_gradient
  int period = 0;      // passes between shrinking steps
  int counter = 0;     // counts down to the next shrinking step
  int iterations = 0;  // sub-problems solved so far

  // --- State of the previous pass, for stalled() (period 0 only) ---
  bool stall_snapshot = false;  // the fields below hold a pass
  std::vector<double> stall_alpha;
  std::vector<double> stall_gradient;
  std::vector<double> stall_bound_gradient;
  std::vector<int> stall_positions;
  std::vector<int> stall_working_set;
  int stall_active_count = 0;
  bool stall_reactivated = false;
  double stall_shift = 0;

  // --- Sub-problem of the working set (sized for qpsize) ---
  std::vector<double> sub_alpha;   // alpha_B: start, then solution
  std::vector<double> sub_upper;   // C_B: upper bounds of the working set
  std::vector<double> sub_linear;  // g: gradient minus M alpha_B
  std::vector<double> sub_matrix;  // M: count x count, column-major, leading dimension count
  std::vector<const float*> columns;  // Q columns of the working set (Solver_B, Solver_MB)
  std::vector<int> column_rows;       // indices handed to get_columns, qpsize at most
  std::vector<int> batch_variables;   // the variables whose columns those are

 private:
  // Phase lists of choose_working_set, sized for qpsize.
  std::vector<double> list_value;
  std::vector<int> list_position;
};

template <typename Row_of, typename Use>
void Solver_B::for_free_column_batches(int len, Row_of row_of, Use use) {
  int count = 0;
  for (int v = 0; v <= active_count; ++v) {
    if (v < active_count && bound_state[v] == Bound_state::free) {
      batch_variables[count] = v;
      column_rows[count] = row_of(v);
      ++count;
    }
    if (count == qpsize || (v == active_count && count > 0)) {
      q_matrix->get_columns(column_rows.data(), count, len, columns.data());
      use(batch_variables.data(), count);
      count = 0;
    }
  }
}

}  // namespace tevra

#endif  // TEVRA_LEARN_SOLVER_B_H_
