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
class Working_set_selection {
 public:
  // Working sets of up to qpsize positions.
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
  int qpsize;
  std::vector<double> value;   // the list's values, qpsize entries
  std::vector<int> position;   // their positions
};

}  // namespace tevra

#endif  // TEVRA_LEARN_WORKING_SET_H_
