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

void Solver_CS::solve(int l, Q_matrix& Q, double* alpha, const int* labels,
                      const double* class_C, double eps, int shrinking, int nr_class,
                      int svm_type) {
  initialize(l, Q, alpha, labels, class_C, eps, nr_class, svm_type);
  optimize(shrinking);
  finish(alpha);
}

void Solver_CS::initialize(int l, Q_matrix& Q, const double* alpha_in,
                           const int* labels_in, const double* class_C, double eps,
                           int nr_class, int svm_type) {
  this->Q = &Q;
  this->eps = eps;
  this->class_C = class_C;
  this->svm_type = svm_type;
  this->nr_class = nr_class;
  sample_count = l;
  const int k = nr_class;
  const std::size_t n = static_cast<std::size_t>(l) * static_cast<std::size_t>(k);

  labels.assign(labels_in, labels_in + l);
  alpha.assign(alpha_in, alpha_in + n);
  label_diagonal.resize(k);
  label_bound.resize(k);
  for (int c = 0; c < k; ++c) {
    if (svm_type == spoc_l2) {
      label_diagonal[c] = 0.5 / class_C[c];
      label_bound[c] = infinity;
    } else {
      label_diagonal[c] = 0;
      label_bound[c] = class_C[c];
    }
  }

  bound_shift.resize(n);
  for (int i = 0; i < l; ++i)
    for (int m = 0; m < k; ++m) bound_shift[class_entry(i, m)] = shift_of(i, m);

  active_order.resize(l);
  for (int i = 0; i < l; ++i) active_order[i] = i;
  active_count = l;
  unshrunk = false;
  iter = 0;
  next_known = false;
  negative_zero_gradient = false;

  // The label entry carries the d term too, as in rebuild_gradient, so that
  // a non-zero starting point gets its true gradient under spoc_l2.
  gradient.assign(n, 1.0);
  for (int i = 0; i < l; ++i) {
    const int y = labels[i];
    const double g = label_diagonal[y] * alpha[entry(i, y)];
    gradient[class_entry(i, y)] = g;
    if (negative_zero(g)) negative_zero_gradient = true;
  }
  for (int i = 0; i < l; ++i) {
    const float* column = nullptr;
    for (int m = 0; m < k; ++m) {
      const double a = alpha[entry(i, m)];
      if (a == 0) continue;
      if (column == nullptr) column = Q.get_column(i, l);
      double* G = &gradient[class_entry(0, m)];
      for (int j = 0; j < l; ++j) G[j] += column[j] * a;
    }
  }

  sub_linear.resize(k);
  sub_solution.resize(k);
  sub_change.resize(k);
  sort_buffer.resize(static_cast<std::size_t>(k) + 1);
  moved_classes.reserve(k);
}

void Solver_CS::optimize(int shrinking) {
  const int period = shrink_period(sample_count);
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
    if (next_known) {
      i = next_sample;
      violation = next_violation;
    } else {
      violation = select_sample(&i);
    }
    if (eps > violation || i < 0) {
      rebuild_gradient();
      active_count = sample_count;
      next_known = false;
      log_info(progress, "*");
      violation = select_sample(&i);
      if (eps > violation || i < 0) break;
      countdown = 1;
    }

    if (countdown == period && i == previous) break;

    ++iter;
    previous = i;
    update_sample(i);
  }
}

double Solver_CS::select_sample(int* chosen) const {
  double best = -infinity;
  *chosen = -1;
  for (int begin = 0; begin < active_count; begin += select_block)
    select_among(begin, std::min(active_count, begin + select_block), &best, chosen);
  return best;
}

void Solver_CS::select_among(int begin, int end, double* best, int* chosen) const {
  const int k = nr_class;
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
      const double* G = &gradient[class_entry(t, m)];
      const double* shift = &bound_shift[class_entry(t, m)];
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
      const double g = gradient[class_entry(t, m)];
      max_G = g > max_G ? g : max_G;
      // A bounded variable offers +inf (or NaN from -inf + inf), which loses
      // every comparison just as a skipped one would.
      const double candidate = g + bound_shift[class_entry(t, m)];
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
  const int k = nr_class;
  const int y = labels[i];
  const float* column = Q->get_column(i, active_count);
  const double A = column[i];
  double* B = sub_linear.data();
  double* a = sub_solution.data();

  for (int m = 0; m < k; ++m) B[m] = gradient[class_entry(i, m)] - A * alpha[entry(i, m)];
  B[y] -= label_diagonal[y] * alpha[entry(i, y)];

  solve_crammer_singer_step(A, B, k, y, class_C[y], label_diagonal[y], label_bound[y],
                            sort_buffer.data(), a);

  // Every gradient entry receives exactly one column term, so the order in
  // which samples and classes are walked leaves the sums alone; the label's
  // diagonal term comes first either way.
  double* delta = sub_change.data();
  for (int m = 0; m < k; ++m) delta[m] = a[m] - alpha[entry(i, m)];
  gradient[class_entry(i, y)] += delta[y] * label_diagonal[y];
  for (int m = 0; m < k; ++m) {
    alpha[entry(i, m)] = a[m];
    bound_shift[class_entry(i, m)] = shift_of(i, m);
  }

  // Most classes of a sample keep their alpha. Their column term q * 0 is an
  // exact zero when q is finite, and adding an exact zero changes no entry
  // but -0. So those classes are skipped, unless the column holds a
  // non-finite value or some entry may be -0.
  const int len = active_count;
  moved_classes.clear();
  bool all_classes = negative_zero_gradient;
  if (!all_classes && std::count(delta, delta + k, 0.0) > 0) {
    int not_finite = 0;
    for (int j = 0; j < len; ++j) not_finite |= !(std::fabs(column[j]) <= FLT_MAX);
    all_classes = not_finite != 0;
  }
  for (int m = 0; m < k; ++m)
    if (all_classes || delta[m] != 0) moved_classes.push_back(m);

  // The next selection reads each stretch of the gradient right after its
  // terms went in.
  next_violation = -infinity;
  next_sample = -1;
  for (int begin = 0; begin < len; begin += select_block) {
    const int end = std::min(len, begin + select_block);
    for (const int m : moved_classes) {
      double* G = &gradient[class_entry(0, m)];
      const double change = delta[m];
      for (int j = begin; j < end; ++j) G[j] += column[j] * change;
    }
    select_among(begin, end, &next_violation, &next_sample);
  }
  next_known = true;
}

void Solver_CS::shrink() {
  const int k = nr_class;
  next_known = false;
  int ignored;
  const double violation = select_sample(&ignored);
  if (eps > violation) return;
  const double t = violation / 2;

  for (int i = 0; i < active_count;) {
    const int y = labels[i];
    const double theta = gradient[class_entry(i, y)] - t;
    bool stays = false;
    for (int m = 0; m < k && !stays; ++m) {
      if (m == y) continue;
      stays = below_bound(i, m) || gradient[class_entry(i, m)] >= theta;
    }
    if (stays) {
      ++i;
    } else {
      --active_count;
      swap_samples(i, active_count);
    }
  }

  if (unshrunk || violation > 10 * eps) return;
  unshrunk = true;
  rebuild_gradient();
  for (int i = sample_count - 1; i >= active_count;) {
    const int y = labels[i];
    const double theta = gradient[class_entry(i, y)] - t;
    bool margin = true;
    for (int m = 0; m < k && margin; ++m)
      if (m != y) margin = gradient[class_entry(i, m)] < theta;
    if (margin) {
      swap_samples(i, active_count);
      ++active_count;
    } else {
      --i;
    }
  }
}

void Solver_CS::rebuild_gradient() {
  const int l = sample_count;
  const int k = nr_class;
  if (active_count >= l) return;

  for (int m = 0; m < k; ++m)
    std::fill(&gradient[class_entry(active_count, m)], &gradient[class_entry(0, m)] + l, 1.0);
  for (int i = active_count; i < l; ++i) {
    const int y = labels[i];
    const double g = label_diagonal[y] * alpha[entry(i, y)];
    gradient[class_entry(i, y)] = g;
    if (negative_zero(g)) negative_zero_gradient = true;
  }
  for (int i = 0; i < active_count; ++i) {
    const float* column = nullptr;
    for (int m = 0; m < k; ++m) {
      const double a = alpha[entry(i, m)];
      if (a == 0) continue;
      if (column == nullptr) column = Q->get_column(i, l);
      double* G = &gradient[class_entry(0, m)];
      for (int j = active_count; j < l; ++j) G[j] += column[j] * a;
    }
  }
}

double Solver_CS::shift_of(int i, int m) const {
  return alpha[entry(i, m)] < upper_bound(i, m) ? -0.0 : infinity;
}

void Solver_CS::swap_samples(int i, int j) {
  Q->swap_entries(i, j);
  std::swap(labels[i], labels[j]);
  std::swap(active_order[i], active_order[j]);
  next_known = false;
  for (int m = 0; m < nr_class; ++m) {
    std::swap(gradient[class_entry(i, m)], gradient[class_entry(j, m)]);
    std::swap(alpha[entry(i, m)], alpha[entry(j, m)]);
    std::swap(bound_shift[class_entry(i, m)], bound_shift[class_entry(j, m)]);
  }
}

void Solver_CS::finish(double* alpha_out) {
  const int l = sample_count;
  const int k = nr_class;
  const std::size_t n = static_cast<std::size_t>(l) * static_cast<std::size_t>(k);

  // Summed sample by sample, each sample's classes in order.
  double weighted_sum = 0;
  for (int i = 0; i < l; ++i)
    for (int m = 0; m < k; ++m)
      weighted_sum += (gradient[class_entry(i, m)] + 1) * alpha[entry(i, m)];
  double label_sum = 0;
  for (int i = 0; i < l; ++i) label_sum += alpha[entry(i, labels[i])];
  const double objective = 0.5 * (weighted_sum - label_sum);

  int nSV = 0;
  int nFREE = 0;
  for (std::size_t t = 0; t < n; ++t) {
    if (std::fabs(alpha[t]) > 0) ++nSV;
    if (bound_shift[t] == 0) ++nFREE;
  }
  log_info(progress, "\noptimization finished, #iter = %d, obj = %lf\n", iter, objective);
  log_info(progress, "nSV = %d, nFREE = %d\n", nSV, nFREE);

  for (int p = 0; p < l; ++p)
    for (int m = 0; m < k; ++m)
      alpha_out[static_cast<std::size_t>(active_order[p]) * static_cast<std::size_t>(k) + m] =
          alpha[entry(p, m)];

  gradient = std::vector<double>();
  labels = std::vector<int>();
  alpha = std::vector<double>();
  label_diagonal = std::vector<double>();
  label_bound = std::vector<double>();
  active_order = std::vector<int>();
  bound_shift = std::vector<double>();
  sub_linear = std::vector<double>();
  sub_solution = std::vector<double>();
  sub_change = std::vector<double>();
  sort_buffer = std::vector<double>();
  moved_classes = std::vector<int>();
}

}  // namespace tevra
