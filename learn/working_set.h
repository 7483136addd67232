// Working-set selection of the decomposition solvers: which variables the
// next sub-problem takes, and how far the current point is from optimal.
#ifndef TEVRA_LEARN_WORKING_SET_H_
#define TEVRA_LEARN_WORKING_SET_H_

#include <vector>

namespace tevra {

// State of a variable relative to its box.
enum class Bound_state : unsigned char { at_lower = 0, at_upper = 1, free = 2 };

// Outcome of one working-set selection.
struct Selection {
  double Gmax;  // largest violation among the phase-2 candidates (>= 0)
  int count;    // number of leading working_set entries written
};

// Without an equality constraint every variable moves on its own, so a
// working set needs no pairs: half of it takes the free variables closest
// to optimal (smallest |G|), the rest the worst violators among the others.
// Two insertion lists of at most qpsize entries replace a sort: unfilled
// slots sit at the front of each list, so a pass costs
// O(active_count * qpsize) at worst.
//
// Long passes are split between threads: each stretch of positions keeps
// lists of its own, and the stretches' entries are then offered, in
// position order, to the same insertion. A list keeps the best entries by
// value with ties to the earlier position, in an order fixed by value and
// position alone; every entry the whole pass would keep is kept by its
// stretch, so the merge chooses exactly what one pass chooses, ties
// included.
class Working_set_selection {
 public:
  // Working sets of up to qpsize positions, with lists for as many
  // stretches as threads are available now.
  explicit Working_set_selection(int qpsize = 0);

  // Chooses among positions 0 to active_count-1, from their gradient G and
  // bound state, and writes the chosen positions into the leading entries
  // of working_set (qpsize entries; the others keep their values): the
  // phase-1 positions largest |G| first, then the phase-2 ones smallest
  // violation first. Among equal values the later position sits nearer the
  // front, and a value equal to the list's threshold does not enter.
  Selection choose(const double* gradient, const Bound_state* bound_state, int active_count,
                   int* working_set);

 private:
  // One insertion list of `size` slots: values and positions.
  struct List {
    double* value;
    int* position;
    int size;
  };

  // Phase 1 over positions begin to end-1 into list.
  static void smallest_free(const double* gradient, const Bound_state* bound_state, int begin,
                            int end, List list);
  // Phase 2 over positions begin to end-1 into list; free variables of |G|
  // up to d are left out.
  static void largest_violations(const double* gradient, const Bound_state* bound_state,
                                 double d, int begin, int end, List list);
  // Runs scan(begin, end, list) over positions 0 to active_count-1 into
  // result: in one pass, or in stretches whose lists are then offered to
  // result in position order through offer(list, v, p).
  template <typename Scan, typename Offer>
  void pass(int active_count, int size, List result, Scan scan, Offer offer);

  int qpsize;
  int stretch_capacity;              // stretches the lists have room for
  std::vector<double> value;         // the result list's values (qpsize)
  std::vector<int> position;         // and positions
  std::vector<double> stretch_value; // qpsize slots per stretch
  std::vector<int> stretch_position;
  std::vector<int> order;            // scratch: a stretch's entries by position
};

}  // namespace tevra

#endif  // TEVRA_LEARN_WORKING_SET_H_
