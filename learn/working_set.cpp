#include "learn/working_set.h"

#include <cmath>
#include <limits>

namespace tevra {

namespace {
constexpr double infinity = std::numeric_limits<double>::infinity();
}  // namespace

Working_set_selection::Working_set_selection(int qpsize)
    : qpsize(qpsize), value(qpsize > 0 ? qpsize : 0, 0.0), position(qpsize > 0 ? qpsize : 0, -1) {}

Selection Working_set_selection::choose(const double* gradient, const Bound_state* bound_state,
                                        int active_count, int* working_set) {
  double* const value = this->value.data();
  int* const position = this->position.data();

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

}  // namespace tevra
