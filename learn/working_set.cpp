#include "learn/working_set.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "learn/parallel.h"

namespace tevra {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// A list in decreasing order of value keeps the smallest values offered:
// unfilled slots count as +infinity, a value equal to the first slot's does
// not enter, and a newcomer goes before the entries equal to it.
void offer_smaller(double* value, int* position, int size, double v, int p) {
  if (!(v < value[0])) return;
  int s = 1;
  while (s < size && value[s] > v) {
    value[s - 1] = value[s];
    position[s - 1] = position[s];
    ++s;
  }
  value[s - 1] = v;
  position[s - 1] = p;
}

// The mirror image: increasing order, the largest values, unfilled slots
// at -infinity.
void offer_larger(double* value, int* position, int size, double v, int p) {
  if (!(v > value[0])) return;
  int s = 1;
  while (s < size && value[s] < v) {
    value[s - 1] = value[s];
    position[s - 1] = position[s];
    ++s;
  }
  value[s - 1] = v;
  position[s - 1] = p;
}

}  // namespace

Working_set_selection::Working_set_selection(int qpsize)
    : qpsize(qpsize),
      stretch_capacity(std::max(1, available_threads())),
      value(qpsize > 0 ? qpsize : 0, 0.0),
      position(qpsize > 0 ? qpsize : 0, -1) {
  if (stretch_capacity > 1 && qpsize > 0) {
    stretch_value.assign(static_cast<size_t>(stretch_capacity) * qpsize, 0.0);
    stretch_position.assign(static_cast<size_t>(stretch_capacity) * qpsize, -1);
    order.assign(qpsize, 0);
  }
}

void Working_set_selection::smallest_free(const double* gradient, const Bound_state* bound_state,
                                          int begin, int end, List list) {
  for (int s = 0; s < list.size; ++s) {
    list.value[s] = infinity;
    list.position[s] = -1;
  }
  // The threshold test comes first: it is the one that usually fails once
  // the list is full, and it needs no branch on the bound state.
  for (int p = begin; p < end; ++p) {
    const double v = std::fabs(gradient[p]);
    if (!(v < list.value[0])) continue;
    if (bound_state[p] != Bound_state::free) continue;
    offer_smaller(list.value, list.position, list.size, v, p);
  }
}

void Working_set_selection::largest_violations(const double* gradient,
                                               const Bound_state* bound_state, double d,
                                               int begin, int end, List list) {
  for (int s = 0; s < list.size; ++s) {
    list.value[s] = -infinity;
    list.position[s] = -1;
  }
  for (int p = begin; p < end; ++p) {
    const double g = gradient[p];
    const double v = std::fabs(g);
    if (!(v > list.value[0])) continue;  // first, as in phase 1
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
    offer_larger(list.value, list.position, list.size, v, p);
  }
}

template <typename Scan, typename Offer>
void Working_set_selection::pass(int active_count, int size, List result, Scan scan,
                                 Offer offer) {
  // One step of a pass costs about one multiply-add.
  const int stretches = std::min(threads_for(active_count, active_count), stretch_capacity);
  if (stretches <= 1 || size <= 0) {
    scan(0, active_count, result);
    return;
  }
  auto list_of = [this, size](int s) {
    const size_t at = static_cast<size_t>(s) * qpsize;
    return List{stretch_value.data() + at, stretch_position.data() + at, size};
  };
  for_each_stretch(active_count, stretches,
                   [&](int s, int begin, int end) { scan(begin, end, list_of(s)); });
  // The stretches in order, each one's entries by increasing position: the
  // offers then arrive in the order one pass would make them.
  scan(0, 0, result);
  for (int s = 0; s < stretches; ++s) {
    const List list = list_of(s);
    int n = 0;
    for (int k = 0; k < size; ++k)
      if (list.position[k] >= 0) order[n++] = k;
    std::sort(order.begin(), order.begin() + n,
              [&list](int a, int b) { return list.position[a] < list.position[b]; });
    for (int k = 0; k < n; ++k) offer(result, list.value[order[k]], list.position[order[k]]);
  }
}

Selection Working_set_selection::choose(const double* gradient, const Bound_state* bound_state,
                                        int active_count, int* working_set) {
  // Phase 1: the free variables of smallest |G|.
  const int half = qpsize / 2;
  const List first{value.data(), position.data(), half};
  pass(
      active_count, half, first,
      [&](int begin, int end, List list) {
        smallest_free(gradient, bound_state, begin, end, list);
      },
      [](List list, double v, int p) { offer_smaller(list.value, list.position, list.size, v, p); });
  int count = 0;
  for (int s = 0; s < half; ++s) {
    if (position[s] >= 0) working_set[count++] = position[s];
  }
  const int first_count = count;
  // Free variables no larger than d were taken above or could have been.
  const double d = first_count > 0 ? value[0] : 0;

  // Phase 2: the largest violations among the rest.
  const int rest = qpsize - first_count;
  const List second{value.data(), position.data(), rest};
  pass(
      active_count, rest, second,
      [&](int begin, int end, List list) {
        largest_violations(gradient, bound_state, d, begin, end, list);
      },
      [](List list, double v, int p) { offer_larger(list.value, list.position, list.size, v, p); });
  double Gmax = 0;
  for (int s = 0; s < rest; ++s) {
    if (position[s] < 0) continue;
    working_set[count++] = position[s];
    Gmax = value[s];  // increasing order: the last appended is the largest
  }
  return Selection{Gmax, count};
}

}  // namespace tevra
