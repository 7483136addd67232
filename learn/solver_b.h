// Solver_B: decomposition solver of the bound-constrained duals
//   minimise 1/2 a'Qa + b'a subject to 0 <= a_i <= C_i,
// with working sets of at most qpsize variables solved by the box
// sub-problem solver, and shrinking. Solver_B_linear and Solver_MB derive
// from it and reuse its loop schedule, selection, shrinking, step
// application and run finishing.
#ifndef TEVRA_LEARN_SOLVER_B_H_
#define TEVRA_LEARN_SOLVER_B_H_

#include <cmath>
#include <utility>
#include <vector>

#include "learn/box/box_solver.h"
#include "learn/progress.h"
#include "learn/q_matrix.h"
#include "learn/working_set.h"

namespace tevra {

// Result of one run, filled by the solver.
struct Solve_result {
  double objective;  // final value of the dual objective
  double* bounds;    // upper bounds of the run (malloc'ed; caller frees)
};

// Changes of a variable up to this size are dropped: they would cost a full
// gradient update for nothing measurable.
constexpr double negligible_change = 1e-12;

// Implements the decomposition method without an equality constraint: each
// iteration takes up to qpsize variables (Working_set_selection), solves
// their sub-problem exactly with the run's Box_solver, and updates the
// gradient from Q columns.
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
// Everything a run holds is one Run, created by its set-up and released at
// its end. The single steps are public, and the run can be read (and, for
// a test, replaced) as a whole, so that each step can be checked on its
// own.
class Solver_B {
 public:
  // The state of one run.
  struct Run {
    // --- The problem ---
    Q_matrix* q_matrix = nullptr;     // borrowed; kernel-based runs only
    double* linear_term = nullptr;    // b, permuted in place with the positions
    std::vector<signed char> signs;   // +1 or -1 per position (own copy)
    double C_pos = 0;                 // upper bound of variables with sign > 0
    double C_neg = 0;                 // upper bound of the other variables
    double eps = 0;                   // stopping tolerance
    int shrinking = 0;                // 1: shrink every period and keep bound_gradient
    int qpsize = 0;                   // working-set size

    // --- The variables, by position ---
    int var_count = 0;                      // number of variables l
    int active_count = 0;                   // active ones occupy positions 0..active_count-1
    std::vector<double> gradient;           // G = Q alpha + b; exact at active positions only
    std::vector<Bound_state> bound_state;   // at_lower / at_upper / free per position
    std::vector<double> alpha;              // the variables, in position order (own copy)
    std::vector<int> position_map;          // caller's index of the variable at each position
    std::vector<double> bound_gradient;     // sum over j at upper bound of C_j Q(p, j)
    bool reactivated = false;               // the one-time reactivation has happened

    // --- The loop schedule ---
    Working_set_selection selection;        // its lists, sized for qpsize
    std::vector<int> working_set;           // positions of the last selection (qpsize)
    std::vector<int> previous_working_set;  // working_set as in the previous iteration
    int period = 0;                         // passes between shrinking steps
    int counter = 0;                        // counts down to the next shrinking step
    int iterations = 0;                     // sub-problems solved so far

    // --- The previous pass, for stalled() (period 0 only) ---
    bool stall_snapshot = false;  // the fields below hold a pass
    std::vector<double> stall_alpha;
    std::vector<double> stall_gradient;
    std::vector<double> stall_bound_gradient;
    std::vector<int> stall_positions;
    std::vector<int> stall_working_set;
    int stall_active_count = 0;
    bool stall_reactivated = false;
    double stall_shift = 0;

    // --- The sub-problem of the working set (sized for min(qpsize, l)) ---
    std::vector<double> sub_alpha;      // alpha_B: start, then solution
    std::vector<double> sub_upper;      // C_B: upper bounds of the working set
    std::vector<double> sub_linear;     // g: gradient minus M alpha_B
    std::vector<double> sub_matrix;     // M: count x count, column-major, leading dimension count
    std::vector<const float*> columns;  // Q columns of the working set or of a batch
    std::vector<int> column_rows;       // indices handed to get_columns
    std::vector<int> batch_variables;   // the variables whose columns those are
    std::vector<double> column_steps;   // change of each moved working-set variable
    std::vector<double> crossed_bounds; // bound of each variable that entered or left it
    std::vector<char> crossed_entered;  // 1: it entered its upper bound, 0: it left
  };

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
  void optimize(int l, Q_matrix& q_matrix, double* linear_term, const signed char* signs,
                double* alpha, double C_pos, double C_neg, double eps, Solve_result* result,
                int shrinking, int qpsize);

  // The current run, read-only; empty between runs.
  const Run& run() const { return run_; }

  // --- The steps of optimize ---

  // Everything before its loop: the variables, their bound states and the
  // gradient of the starting point, the schedule.
  void set_up(int l, Q_matrix& q_matrix, double* linear_term, const signed char* signs,
              const double* alpha, double C_pos, double C_neg, double eps, int shrinking,
              int qpsize);
  // Steps shared by every main loop: counter and period (shrink and "."),
  // selection, the full check (rebuild_gradient, "*", re-selection,
  // after_failed_full_check), the comparison with previous_working_set, the
  // copy into it and the iteration count. Returns false when the run must
  // stop; otherwise *count positions of working_set form the next
  // sub-problem.
  bool next_working_set(int* count);
  // Builds and solves the sub-problem of the count selected positions and
  // applies the solution. Each solver has its own.
  virtual void solve_working_set(int count);
  // The main loop: next_working_set and solve_working_set until a stop rule
  // (or stalled) ends it.
  void iterate();
  // Fills the leading entries of working_set with the next working set.
  Selection choose_working_set();
  // Deactivates settled bound variables; once, near the end, brings back
  // those taken out too early.
  void shrink();
  // Takes the variable at position p out of the active set (it moves to
  // position active_count, which then shrinks by one).
  void deactivate_at(int p);
  // Brings the inactive variable at position p back: it becomes the last
  // active one.
  void reactivate_at(int p);

  // Replaces the current run by state, from which the steps then go on.
  // Tests put the solver into states of their own making this way; state
  // must be one a run could be in.
  void replace_run(Run state) { run_ = std::move(state); }

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

  // Sets bound_state[p] from alpha[p]: at_upper if alpha >= bound_of(p),
  // else at_lower if alpha <= 0, else free.
  void update_bound_state(int p);

  // Starts the run shared by all three solvers over l variables: alpha
  // copied from start_alpha, position_map the identity, bound_gradient
  // zeros (only when with_bound_gradient), working sets and sub-problem
  // arrays sized for qpsize, the schedule. The problem fields of Run not
  // given here, the bound states and the gradient are left to the caller.
  void start_run(int l, const double* start_alpha, double eps, int shrinking, int qpsize,
                 bool with_bound_gradient);
  // Loop schedule set-up: period, counter, previous_working_set = -1,
  // iterations = 0.
  void start_schedule();
  // Called after next_working_set by the main loop: true when the run can
  // only repeat itself (see the definition), which ends it like a repeated
  // working set does.
  bool stalled();
  // Gradient, alpha and upper bound of each of the count positions of
  // working_set into sub_linear, sub_alpha and sub_upper.
  void load_working_set(int count);
  // With sub_matrix filled for count variables and sub_alpha, sub_linear
  // holding alpha and gradient of the working set: subtracts M*alpha_B from
  // sub_linear in the order pairs are visited, then solves the box
  // sub-problem in place of sub_alpha with the given tolerance.
  void solve_subproblem(int count, double tolerance);
  // The solution of the sub-problem, applied: every working-set variable
  // whose change exceeds negligible_change takes its new value and hands
  // moved(k, position, change) on; the others keep theirs. Then every
  // working-set variable's bound state is set from its value, and, with
  // shrinking on, each that entered or left its upper bound hands
  // crossed(k, position, entered) on.
  template <typename Moved, typename Crossed>
  void apply_solution(int count, Moved moved, Crossed crossed);
  // Hands the variables at positions 0 to end-1 that take(v) accepts to
  // use(variables, count) qpsize at a time, in position order, with
  // columns[0..count-1] holding their Q columns of length len; row_of(v) is
  // the column of variable v. qpsize columns are as many as the cache
  // always holds at once.
  template <typename Take, typename Row_of, typename Use>
  void for_column_batches(int end, Take take, int len, Row_of row_of, Use use);
  // for_column_batches of the free active variables.
  template <typename Row_of, typename Use>
  void for_free_column_batches(int len, Row_of row_of, Use use) {
    const Bound_state* const state = run_.bound_state.data();
    for_column_batches(
        run_.active_count, [state](int v) { return state[v] == Bound_state::free; }, len, row_of,
        use);
  }
  // target[t] += columns[k][t] * steps[k] for the count columns in turn,
  // for every t from begin to end-1; the entries are split between threads.
  void add_columns(int count, const double* steps, double* target, int begin, int end);
  // Exchanges entries i and j of the arrays every solver keeps per
  // position: gradient, bound_state, alpha and position_map. Each
  // swap_variables adds the arrays of its own.
  void swap_shared_entries(int i, int j);
  // Ends the run: result->objective = factor * the sum over all positions
  // of (gradient[p] + linear(p)) * alpha[p], from the gradient as it stands;
  // result->bounds a malloc'ed copy of bounds[0..bound_count-1]; alpha
  // written back in the caller's order; the run released.
  template <typename Linear>
  void finish_run(double factor, Linear linear, const double* bounds, int bound_count,
                  Solve_result* result, double* caller_alpha);

  Box_solver& box_solver;  // solves every sub-problem; its shift carries over
  Progress progress;       // where "." "*" and the final line go
  Run run_;

 private:
  // The parts of finish_run that need no template.
  void finish_run(double objective, const double* bounds, int bound_count, Solve_result* result,
                  double* caller_alpha);
};

template <typename Moved, typename Crossed>
void Solver_B::apply_solution(int count, Moved moved, Crossed crossed) {
  Run& r = run_;
  for (int k = 0; k < count; ++k) {
    const int i = r.working_set[k];
    const double delta = r.sub_alpha[k] - r.alpha[i];
    if (!(std::fabs(delta) > negligible_change)) continue;
    r.alpha[i] = r.sub_alpha[k];
    moved(k, i, delta);
  }
  for (int k = 0; k < count; ++k) {
    const int i = r.working_set[k];
    const bool was_upper = r.bound_state[i] == Bound_state::at_upper;
    update_bound_state(i);
    const bool is_upper = r.bound_state[i] == Bound_state::at_upper;
    if (r.shrinking && was_upper != is_upper) crossed(k, i, is_upper);
  }
}

template <typename Take, typename Row_of, typename Use>
void Solver_B::for_column_batches(int end, Take take, int len, Row_of row_of, Use use) {
  Run& r = run_;
  int count = 0;
  for (int v = 0; v <= end; ++v) {
    if (v < end && take(v)) {
      r.batch_variables[count] = v;
      r.column_rows[count] = row_of(v);
      ++count;
    }
    if (count == r.qpsize || (v == end && count > 0)) {
      r.q_matrix->get_columns(r.column_rows.data(), count, len, r.columns.data());
      use(r.batch_variables.data(), count);
      count = 0;
    }
  }
}

template <typename Linear>
void Solver_B::finish_run(double factor, Linear linear, const double* bounds, int bound_count,
                          Solve_result* result, double* caller_alpha) {
  double sum = 0;
  for (int p = 0; p < run_.var_count; ++p) sum += (run_.gradient[p] + linear(p)) * run_.alpha[p];
  finish_run(factor * sum, bounds, bound_count, result, caller_alpha);
}

}  // namespace tevra

#endif  // TEVRA_LEARN_SOLVER_B_H_
