// Working-set selection and shrinking, shared by Solver_B, Solver_B_linear
// and Solver_MB. Both operate on the active positions only.
#include <cmath>
#include <limits>

#include "learn/solver_b.h"

namespace tevra {

namespace {
constexpr double infinity = std::numeric_limits<double>::infinity();
}  // namespace

// Two insertion lists of at most qpsize entries replace a sort: phase 1
// keeps the half free variables closest to optimal (smallest |G|), phase 2
// the worst violators among the rest. Unfilled slots sit at the front of each
// list, so a full pass costs O(active_count * qpsize) at worst.
Selection Solver_B::choose_working_set() {
  double* value = list_value.data();
  int* position = list_position.data();

  // Phase 1: decreasing order, unfilled slots count as +infinity.
  const int half = qpsize / 2;
  for (int s = 0; s < half; ++s) {
    value[s] = infinity;
    position[s] = -1;
  }
  // The threshold test comes first: it is the one that usually fails once
  // the list is full, and it needs no branch on the bound state.
  for (int p = 0; p < active_count; ++p) {
    const double v = std::fabs(gradient[p]);
    if (!(v < value[0])) continue;
    if (bound_state[p] != Bound_state::free) continue;
    int s = 1;
    while (s < half && value[s] > v) {
      value[s - 1] = value[s];
      position[s - 1] = position[s];
      ++s;
    }
    value[s - 1] = v;
    position[s - 1] = p;
  }
  int count = 0;
  for (int s = 0; s < half; ++s) {
    if (position[s] >= 0) working_set[count++] = position[s];
  }
  const int first_count = count;
  // Free variables no larger than d were taken above or could have been.
  const double d = first_count > 0 ? value[0] : 0;

  // Phase 2: increasing order, unfilled slots count as -infinity.
  const int rest = qpsize - first_count;
  for (int s = 0; s < rest; ++s) {
    value[s] = -infinity;
    position[s] = -1;
  }
  for (int p = 0; p < active_count; ++p) {
    const double g = gradient[p];
    const double v = std::fabs(g);
    if (!(v > value[0])) continue;  // first, as in phase 1
    switch (bound_state[p]) {
      case Bound_state::free:
        if (v <= d) continue;
        break;
      case Bound_state::at_upper:
        if (g < 0) continue;
        break;
      case Bound_state::at_lower:
        if (g > 0) continue;
        break;
    }
    int s = 1;
    while (s < rest && value[s] < v) {
      value[s - 1] = value[s];
      position[s - 1] = position[s];
      ++s;
    }
    value[s - 1] = v;
    position[s - 1] = p;
  }
  double Gmax = 0;
  for (int s = 0; s < rest; ++s) {
    if (position[s] < 0) continue;
    working_set[count++] = position[s];
    Gmax = value[s];  // increasing order: the last appended is the largest
  }
  return Selection{Gmax, count};
}

void Solver_B::shrink() {
  // One threshold for the whole step, measured before any variable moves.
  const double Gm = choose_working_set().Gmax;
  if (eps > Gm) return;

  int p = 0;
  while (p < active_count) {
    const bool settled = (bound_state[p] == Bound_state::at_lower && gradient[p] > Gm) ||
                         (bound_state[p] == Bound_state::at_upper && gradient[p] < -Gm);
    if (settled) {
      --active_count;
      deactivate(p);  // another variable now sits at p: examine it too
    } else {
      ++p;
    }
  }

  if (reactivated || Gm > 10 * eps) return;

  // Near the end, once: judge the inactive variables with exact gradients
  // and bring back those shrunk too early.
  reactivated = true;
  rebuild_gradient();
  p = var_count - 1;
  while (p >= active_count) {
    const bool unsettled = (bound_state[p] == Bound_state::at_lower && gradient[p] <= Gm) ||
                           (bound_state[p] == Bound_state::at_upper && gradient[p] >= -Gm);
    if (unsettled) {
      reactivate(p);
      ++active_count;
    } else {
      --p;
    }
  }
}

}  // namespace tevra
