#include "learn/solver_cs.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "learn/crammer_singer_step.h"

namespace tevra {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// Samples per stretch of the update pass: short enough that the selection
// finds a stretch's gradient and shifts still in cache right after the
// update wrote it.
constexpr int select_block = 256;

// An exact -0, the one value that adding +0 changes.
bool negative_zero(double v) { return v == 0 && std::signbit(v); }

}  // namespace

double Solver_CS::solve(int l, Q_matrix& Q, double* alpha, const int* labels,
                        const double* class_C, double eps, int shrinking, int nr_class,
                        int svm_type) {
  initialize(l, Q, alpha, labels, class_C, eps, nr_class, svm_type);
  iterate(shrinking);
  return finish(alpha);
}

void Solver_CS::initialize(int l, Q_matrix& Q, const double* alpha_in,
                           const int* labels_in, const double* class_C, double eps,
                           int nr_class, int svm_type) {
  run_ = Run();
  Run& r = run_;
  r.Q = &Q;
  r.eps = eps;
  r.class_C = class_C;
  r.svm_type = svm_type;
  r.nr_class = nr_class;
  r.sample_count = l;
  const int k = nr_class;
  const std::size_t n = static_cast<std::size_t>(l) * static_cast<std::size_t>(k);

  r.labels.assign(labels_in, labels_in + l);
  r.alpha.assign(alpha_in, alpha_in + n);
  r.label_diagonal.resize(k);
  r.label_bound.resize(k);
  for (int c = 0; c < k; ++c) {
    if (svm_type == spoc_l2) {
      r.label_diagonal[c] = 0.5 / class_C[c];
      r.label_bound[c] = infinity;
    } else {
      r.label_diagonal[c] = 0;
      r.label_bound[c] = class_C[c];
    }
  }

  r.bound_shift.resize(n);
  for (int i = 0; i < l; ++i)
    for (int m = 0; m < k; ++m) r.bound_shift[class_entry(i, m)] = shift_of(i, m);

  r.active_order.resize(l);
  for (int i = 0; i < l; ++i) r.active_order[i] = i;
  r.active_count = l;

  // The label entry carries the d term too, as in rebuild_gradient, so that
  // a non-zero starting point gets its true gradient under spoc_l2.
  r.gradient.resize(n);
  gradient_from_scratch(0);

  r.sub_linear.resize(k);
  r.sub_solution.resize(k);
  r.sub_change.resize(k);
  r.sort_buffer.resize(static_cast<std::size_t>(k) + 1);
  r.moved_classes.reserve(k);
  r.is_moved.assign(k, 0);
  r.largest.resize(l);
  r.smallest.resize(l);
  r.largest_class.resize(l);
  r.smallest_class.resize(l);
  r.extremes_known = false;
}

void Solver_CS::iterate(int shrinking) {
  Run& r = run_;
  const int period = shrink_period(r.sample_count);
  int countdown = period + 1;
  int previous = -1;

  for (;;) {
    if (--countdown == 0) {
      if (shrinking) shrink();
      log_info(progress, ".");
      countdown = period;
    }

    // A negative i means no active sample can be updated (the active set is
    // empty, or no sample has a free variable): only the full check below
    // may go on, and only with a sample it selected.
    int i = -1;
    double violation;
    if (r.next_known) {
      i = r.next_sample;
      violation = r.next_violation;
    } else {
      violation = select_sample(&i);
    }
    if (r.eps > violation || i < 0) {
      rebuild_gradient();
      r.active_count = r.sample_count;
      r.next_known = false;
      log_info(progress, "*");
      violation = select_sample(&i);
      if (r.eps > violation || i < 0) break;
      countdown = 1;
    }

    if (countdown == period && i == previous) break;

    ++r.iter;
    previous = i;
    update_sample(i);
  }
}

double Solver_CS::select_sample(int* chosen) const {
  const Run& r = run_;
  double best = -infinity;
  *chosen = -1;
  for (int begin = 0; begin < r.active_count; begin += select_block)
    select_among(begin, std::min(r.active_count, begin + select_block), &best, chosen);
  return best;
}

void Solver_CS::select_among(int begin, int end, double* best, int* chosen) const {
  const Run& r = run_;
  const int k = r.nr_class;
  double top = *best;
  int at = *chosen;
  int t = begin;
#if defined(__SSE2__)
  // Eight samples side by side, their extremes in registers. Each lane still
  // folds its sample's classes in increasing order with the comparisons of
  // the scalar walk below: max_pd(a, b) and min_pd(a, b) are exactly
  // a > b ? a : b and a < b ? a : b.
  for (; t + 8 <= end; t += 8) {
    __m128d max_G[4];
    __m128d min_G[4];
    for (int v = 0; v < 4; ++v) {
      max_G[v] = _mm_set1_pd(-infinity);
      min_G[v] = _mm_set1_pd(infinity);
    }
    for (int m = 0; m < k; ++m) {
      const double* G = &r.gradient[class_entry(t, m)];
      const double* shift = &r.bound_shift[class_entry(t, m)];
      for (int v = 0; v < 4; ++v) {
        const __m128d g = _mm_loadu_pd(G + 2 * v);
        max_G[v] = _mm_max_pd(g, max_G[v]);
        min_G[v] = _mm_min_pd(_mm_add_pd(g, _mm_loadu_pd(shift + 2 * v)), min_G[v]);
      }
    }
    // Only a group with a lane beating the best so far is walked lane by
    // lane; NaN beats nothing either way.
    double violation[8];
    int beats = 0;
    const __m128d so_far = _mm_set1_pd(top);
    for (int v = 0; v < 4; ++v) {
      const __m128d difference = _mm_sub_pd(max_G[v], min_G[v]);
      _mm_storeu_pd(violation + 2 * v, difference);
      beats |= _mm_movemask_pd(_mm_cmpgt_pd(difference, so_far));
    }
    if (beats == 0) continue;
    for (int w = 0; w < 8; ++w)
      if (violation[w] > top) {
        top = violation[w];
        at = t + w;
      }
  }
#endif
  for (; t < end; ++t) {
    double max_G = -infinity;
    double min_G = infinity;
    for (int m = 0; m < k; ++m) {
      const double g = r.gradient[class_entry(t, m)];
      max_G = g > max_G ? g : max_G;
      // A bounded variable offers +inf (or NaN from -inf + inf), which loses
      // every comparison just as a skipped one would.
      const double candidate = g + r.bound_shift[class_entry(t, m)];
      min_G = candidate < min_G ? candidate : min_G;
    }
    const double violation = max_G - min_G;
    if (violation > top) {
      top = violation;
      at = t;
    }
  }
  *best = top;
  *chosen = at;
}

void Solver_CS::update_sample(int i) {
  Run& r = run_;
  const int k = r.nr_class;
  const int y = r.labels[i];
  const float* column = r.Q->get_column(i, r.active_count);
  const double A = column[i];
  double* B = r.sub_linear.data();
  double* a = r.sub_solution.data();

  for (int m = 0; m < k; ++m) B[m] = r.gradient[class_entry(i, m)] - A * r.alpha[entry(i, m)];
  B[y] -= r.label_diagonal[y] * r.alpha[entry(i, y)];

  solve_crammer_singer_step(A, B, k, y, r.class_C[y], r.label_diagonal[y], r.label_bound[y],
                            r.sort_buffer.data(), a);

  // Every gradient entry receives exactly one column term, so the order in
  // which samples and classes are walked leaves the sums alone; the label's
  // diagonal term comes first either way.
  double* delta = r.sub_change.data();
  for (int m = 0; m < k; ++m) delta[m] = a[m] - r.alpha[entry(i, m)];
  r.gradient[class_entry(i, y)] += delta[y] * r.label_diagonal[y];
  for (int m = 0; m < k; ++m) {
    r.alpha[entry(i, m)] = a[m];
    r.bound_shift[class_entry(i, m)] = shift_of(i, m);
  }

  // Most classes of a sample keep their alpha. Their column term q * 0 is an
  // exact zero when q is finite, and adding an exact zero changes no entry
  // but -0. So those classes are skipped, unless the column holds a
  // non-finite value or some entry may be -0.
  const int len = r.active_count;
  r.moved_classes.clear();
  bool all_classes = r.negative_zero_gradient;
  if (!all_classes && std::count(delta, delta + k, 0.0) > 0) {
    int not_finite = 0;
    for (int j = 0; j < len; ++j) not_finite |= !(std::fabs(column[j]) <= FLT_MAX);
    all_classes = not_finite != 0;
  }
  for (int m = 0; m < k; ++m)
    if (all_classes || delta[m] != 0) r.moved_classes.push_back(m);

  // The next selection reads each stretch of the gradient right after its
  // terms went in. Only the moved classes changed for the other positions,
  // so their extremes follow from those classes alone; sample i's bound
  // shifts changed too, and it is scanned whole.
  for (const int m : r.moved_classes) r.is_moved[m] = 1;
  r.next_violation = -infinity;
  r.next_sample = -1;
  double top = -infinity;
  int at = -1;
  for (int begin = 0; begin < len; begin += select_block) {
    const int end = std::min(len, begin + select_block);
    for (const int m : r.moved_classes) {
      double* G = &r.gradient[class_entry(0, m)];
      const double change = delta[m];
      for (int j = begin; j < end; ++j) G[j] += column[j] * change;
    }
    for (int j = begin; j < end; ++j) {
      if (r.extremes_known && j != i) {
        follow_extremes(j);
      } else {
        scan_extremes(j);
      }
      // As select_among: the violation of the extremes, ties to the first.
      const double violation = r.largest[j] - r.smallest[j];
      if (violation > top) {
        top = violation;
        at = j;
      }
    }
  }
  for (const int m : r.moved_classes) r.is_moved[m] = 0;
  r.extremes_known = true;
  r.next_violation = top;
  r.next_sample = at;
  r.next_known = true;
}

// The same comparisons as select_among's walk, which keeps the first class
// of equal values; the class of each extreme is recorded along.
void Solver_CS::scan_extremes(int j) {
  Run& r = run_;
  double max_G = -infinity;
  double min_G = infinity;
  int max_class = -1;
  int min_class = -1;
  for (int m = 0; m < r.nr_class; ++m) {
    const double g = r.gradient[class_entry(j, m)];
    if (g > max_G) {
      max_G = g;
      max_class = m;
    }
    const double candidate = g + r.bound_shift[class_entry(j, m)];
    if (candidate < min_G) {
      min_G = candidate;
      min_class = m;
    }
  }
  r.largest[j] = max_G;
  r.smallest[j] = min_G;
  r.largest_class[j] = max_class;
  r.smallest_class[j] = min_class;
}

// Exact: the extremes scan_extremes would find now. The largest entry was
// the first class c holding it, so every class before c held less and
// every unmoved class still holds no more. If c did not move, the answer is
// the better of it and the moved classes; if c moved but did not fall (a
// comparison that NaN fails), only the moved classes can hold the answer.
// Ties go to the lower class, as in the scan. Only a fall of c needs every
// class again. The same holds for the smallest candidate, mirrored.
void Solver_CS::follow_extremes(int j) {
  Run& r = run_;
  const int* const moved = r.moved_classes.data();
  const int moved_count = static_cast<int>(r.moved_classes.size());

  double max_G = r.largest[j];
  int max_class = r.largest_class[j];
  if (max_class >= 0 && r.is_moved[max_class]) {
    if (!(r.gradient[class_entry(j, max_class)] >= max_G)) {
      scan_extremes(j);
      return;
    }
    max_G = -infinity;
    max_class = -1;
  }
  double min_G = r.smallest[j];
  int min_class = r.smallest_class[j];
  if (min_class >= 0 && r.is_moved[min_class]) {
    const double candidate =
        r.gradient[class_entry(j, min_class)] + r.bound_shift[class_entry(j, min_class)];
    if (!(candidate <= min_G)) {
      scan_extremes(j);
      return;
    }
    min_G = infinity;
    min_class = -1;
  }
  for (int t = 0; t < moved_count; ++t) {
    const int m = moved[t];
    const double g = r.gradient[class_entry(j, m)];
    if (g > max_G || (g == max_G && m < max_class)) {
      max_G = g;
      max_class = m;
    }
    const double candidate = g + r.bound_shift[class_entry(j, m)];
    if (candidate < min_G || (candidate == min_G && m < min_class)) {
      min_G = candidate;
      min_class = m;
    }
  }
  r.largest[j] = max_G;
  r.smallest[j] = min_G;
  r.largest_class[j] = max_class;
  r.smallest_class[j] = min_class;
}

void Solver_CS::shrink() {
  Run& r = run_;
  const int k = r.nr_class;
  r.next_known = false;
  int ignored;
  const double violation = select_sample(&ignored);
  if (r.eps > violation) return;
  const double t = violation / 2;

  for (int i = 0; i < r.active_count;) {
    const int y = r.labels[i];
    const double theta = r.gradient[class_entry(i, y)] - t;
    bool stays = false;
    for (int m = 0; m < k && !stays; ++m) {
      if (m == y) continue;
      stays = below_bound(i, m) || r.gradient[class_entry(i, m)] >= theta;
    }
    if (stays) {
      ++i;
    } else {
      --r.active_count;
      swap_samples(i, r.active_count);
    }
  }

  if (r.unshrunk || violation > 10 * r.eps) return;
  r.unshrunk = true;
  rebuild_gradient();
  for (int i = r.sample_count - 1; i >= r.active_count;) {
    const int y = r.labels[i];
    const double theta = r.gradient[class_entry(i, y)] - t;
    bool margin = true;
    for (int m = 0; m < k && margin; ++m)
      if (m != y) margin = r.gradient[class_entry(i, m)] < theta;
    if (margin) {
      swap_samples(i, r.active_count);
      ++r.active_count;
    } else {
      --i;
    }
  }
}

void Solver_CS::rebuild_gradient() {
  // The active set may grow next (the full check): positions beyond it
  // have no extremes yet.
  run_.extremes_known = false;
  if (run_.active_count >= run_.sample_count) return;
  gradient_from_scratch(run_.active_count);
}

// The inactive samples' own column terms are left out: a sample is shrunk
// only when all its alpha_i^m with m != y_i are 0, which forces
// alpha_i^{y_i} = 0 through the equality constraint, and inactive samples
// are not updated.
void Solver_CS::gradient_from_scratch(int first) {
  Run& r = run_;
  const int l = r.sample_count;
  const int k = r.nr_class;
  if (first >= l) return;

  double* const gradient = r.gradient.data();
  for (int m = 0; m < k; ++m)
    std::fill(gradient + class_entry(first, m), gradient + class_entry(0, m) + l, 1.0);
  for (int i = first; i < l; ++i) {
    const int y = r.labels[i];
    const double g = r.label_diagonal[y] * r.alpha[entry(i, y)];
    gradient[class_entry(i, y)] = g;
    if (negative_zero(g)) r.negative_zero_gradient = true;
  }
  for (int i = 0; i < r.active_count; ++i) {
    const float* column = nullptr;
    for (int m = 0; m < k; ++m) {
      const double a = r.alpha[entry(i, m)];
      if (a == 0) continue;
      if (column == nullptr) column = r.Q->get_column(i, l);
      double* G = gradient + class_entry(0, m);
      for (int j = first; j < l; ++j) G[j] += column[j] * a;
    }
  }
}

double Solver_CS::shift_of(int i, int m) const {
  const Run& r = run_;
  return r.alpha[entry(i, m)] < upper_bound(i, m) ? -0.0 : infinity;
}

void Solver_CS::swap_samples(int i, int j) {
  Run& r = run_;
  r.Q->swap_entries(i, j);
  std::swap(r.labels[i], r.labels[j]);
  std::swap(r.active_order[i], r.active_order[j]);
  r.next_known = false;
  r.extremes_known = false;
  for (int m = 0; m < r.nr_class; ++m) {
    std::swap(r.gradient[class_entry(i, m)], r.gradient[class_entry(j, m)]);
    std::swap(r.alpha[entry(i, m)], r.alpha[entry(j, m)]);
    std::swap(r.bound_shift[class_entry(i, m)], r.bound_shift[class_entry(j, m)]);
  }
}

double Solver_CS::finish(double* alpha_out) {
  Run& r = run_;
  const int l = r.sample_count;
  const int k = r.nr_class;
  const std::size_t n = static_cast<std::size_t>(l) * static_cast<std::size_t>(k);

  // Summed sample by sample, each sample's classes in order.
  double weighted_sum = 0;
  for (int i = 0; i < l; ++i)
    for (int m = 0; m < k; ++m)
      weighted_sum += (r.gradient[class_entry(i, m)] + 1) * r.alpha[entry(i, m)];
  double label_sum = 0;
  for (int i = 0; i < l; ++i) label_sum += r.alpha[entry(i, r.labels[i])];
  const double objective = 0.5 * (weighted_sum - label_sum);

  int nSV = 0;
  int nFREE = 0;
  for (std::size_t t = 0; t < n; ++t) {
    if (std::fabs(r.alpha[t]) > 0) ++nSV;
    if (r.bound_shift[t] == 0) ++nFREE;
  }
  log_info(progress, "\noptimization finished, #iter = %d, obj = %lf\n", r.iter, objective);
  log_info(progress, "nSV = %d, nFREE = %d\n", nSV, nFREE);

  for (int p = 0; p < l; ++p)
    for (int m = 0; m < k; ++m)
      alpha_out[static_cast<std::size_t>(r.active_order[p]) * static_cast<std::size_t>(k) + m] =
          r.alpha[entry(p, m)];

  run_ = Run();
  return objective;
}

}  // namespace tevra
