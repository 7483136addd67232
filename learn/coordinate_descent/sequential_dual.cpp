// Sequential_dual_crammer_singer: passes of exact one-sample steps over the
// weight matrix.
#include "learn/coordinate_descent/sequential_dual.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <utility>

#include "learn/coordinate_descent/sparse_dot.h"
#include "learn/crammer_singer_step.h"

namespace tevra {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// Passes between two progress marks.
constexpr int kPassesPerMark = 10;

}  // namespace

double Sequential_dual_crammer_singer::solve(int l, Node* const* samples, double* alpha,
                                             const int* labels, const double* class_C,
                                             double eps, int shrinking, int nr_class,
                                             int svm_type) {
  const int k = nr_class;
  count_ = l;
  classes_ = k;
  samples_ = samples;
  alpha_ = alpha;
  labels_ = labels;
  class_C_ = class_C;

  int largest = -1;
  square_.resize(l);
  length_.resize(l);
  for (int i = 0; i < l; ++i) {
    double sum = 0;
    for (const Node* x = samples[i]; x->index != -1; ++x) {
      largest = std::max(largest, x->index);
      sum += x->value * x->value;
    }
    square_[i] = sum;
    length_[i] = node_count(samples[i]);
  }
  features_ = largest + 1;
  w_.assign(static_cast<std::size_t>(features_) * k, 0.0);
  for (int i = 0; i < l; ++i)
    for (int m = 0; m < k; ++m) add_to_class(i, m, alpha[static_cast<std::size_t>(i) * k + m]);

  label_diagonal_.resize(k);
  label_bound_.resize(k);
  for (int c = 0; c < k; ++c) {
    label_diagonal_[c] = svm_type == spoc_l2 ? 0.5 / class_C[c] : 0;
    label_bound_[c] = svm_type == spoc_l2 ? infinity : class_C[c];
  }
  class_order_.resize(static_cast<std::size_t>(l) * k);
  for (int i = 0; i < l; ++i) {
    int* order = &class_order_[static_cast<std::size_t>(i) * k];
    order[0] = labels[i];
    for (int m = 0, j = 1; m < k; ++m)
      if (m != labels[i]) order[j++] = m;
  }
  class_count_.assign(l, k);
  G_.resize(k);
  B_.resize(k);
  step_.resize(k);
  sort_buffer_.resize(static_cast<std::size_t>(k) + 1);

  const int passes = run(eps, shrinking);

  const double obj = objective();
  int nonzero = 0;
  int free = 0;
  for (int i = 0; i < l; ++i)
    for (int m = 0; m < k; ++m) {
      if (std::fabs(alpha[static_cast<std::size_t>(i) * k + m]) > 0) ++nonzero;
      if (below_bound(i, m)) ++free;
    }
  log_info(progress_, "\noptimization finished, #iter = %d, obj = %lf\n", passes, obj);
  log_info(progress_, "nSV = %d, nFREE = %d\n", nonzero, free);
  return obj;
}

int Sequential_dual_crammer_singer::run(double eps, int shrinking) {
  const int l = count_;
  const int k = classes_;
  active_.resize(l);
  std::iota(active_.begin(), active_.end(), 0);
  int active_count = l;
  bool shrunk = false;
  // Classes below every free gradient by more than this leave their
  // sample's sub-problem; none in the first pass.
  double threshold = infinity;
  double* const G = G_.data();
  double* const B = B_.data();
  double* const a = step_.data();
  int passes = 0;
  for (;;) {
    ++passes;
    order_.shuffle(active_.data(), active_count);
    double largest = 0;
    bool moved = false;
    bool finite = true;
    for (int t = 0; t < active_count; ++t) {
      const int i = active_[t];
      const int y = labels_[i];
      int* const classes = &class_order_[static_cast<std::size_t>(i) * k];
      double* const alpha = alpha_ + static_cast<std::size_t>(i) * k;
      int n = class_count_[i];
      if (t + 1 < active_count) prefetch_sample(active_[t + 1]);
      const Measure measure = gradient(i, classes, n, G);
      const double v = measure.violation;
      const double min_free = measure.min_free;

      if (shrinking && threshold < infinity) {
        for (int j = n - 1; j >= 1; --j) {
          if (alpha[classes[j]] == 0 && G[j] < min_free - threshold) {
            --n;
            std::swap(classes[j], classes[n]);
            std::swap(G[j], G[n]);
            shrunk = true;
          }
        }
        class_count_[i] = n;
        if (n == 1) {
          // The label alone: every variable of the sample is 0 and stays so.
          --active_count;
          std::swap(active_[t], active_[active_count]);
          --t;
          continue;
        }
      }
      largest = std::max(largest, v);
      if (!(v > 0)) continue;

      // The sub-problem over the active classes, the label first; the
      // others keep their 0.
      const double A = square_[i];
      for (int j = 0; j < n; ++j) B[j] = G[j] - A * alpha[classes[j]];
      B[0] -= label_diagonal_[y] * alpha[y];
      solve_crammer_singer_step(A, B, n, 0, class_C_[y], label_diagonal_[y], label_bound_[y],
                                sort_buffer_.data(), a);
      // The closed form finds the label's value on its own; when every other
      // class ends at 0 the equality constraint makes it 0 too, which the
      // rounding of the closed form can miss by a few units in the last
      // place (and leave a support vector of no weight).
      if (std::all_of(a + 1, a + n, [](double value) { return value == 0; })) a[0] = 0;
      for (int j = 0; j < n; ++j) {
        const int m = classes[j];
        const double delta = a[j] - alpha[m];
        if (delta == 0) continue;
        alpha[m] = a[j];
        add_to_class(i, m, delta);
        moved = true;
        finite = finite && std::isfinite(a[j]);
      }
    }
    if (passes % kPassesPerMark == 0) log_info(progress_, ".");

    const bool looks_optimal = largest < eps;
    if ((looks_optimal || !moved) && shrunk) {
      // What was shrunk may have drifted out of place: one more look at
      // every sample and class.
      active_count = l;
      std::fill(class_count_.begin(), class_count_.end(), k);
      shrunk = false;
      threshold = infinity;
      log_info(progress_, "*");
      continue;
    }
    // A pass over everything that moves nothing would repeat forever; so
    // would one whose steps are not finite.
    if (!moved || !finite) break;
    if (looks_optimal) {
      // The pass measured each sample before its own step and after the
      // steps before it: confirm at the final w.
      const double final_largest = largest_violation();
      if (final_largest < eps) break;
      threshold = final_largest;
    } else {
      threshold = largest;
    }
  }
  return passes;
}

Sequential_dual_crammer_singer::Measure Sequential_dual_crammer_singer::gradient(
    int i, const int* classes, int count, double* G) const {
  const int y = labels_[i];
  const double* const alpha = alpha_ + static_cast<std::size_t>(i) * classes_;
  const Node* const x = samples_[i];
  const int n = length_[i];
  double max_G = -infinity;
  double min_free = infinity;
  for (int j = 0; j < count; ++j) {
    const int m = classes[j];
    const double product = sparse_dot(x, n, weights_of(m));
    const bool label = m == y;
    const double g = product + (label ? label_diagonal_[y] * alpha[y] : 1.0);
    G[j] = g;
    max_G = std::max(max_G, g);
    if (alpha[m] < (label ? label_bound_[y] : 0.0)) min_free = std::min(min_free, g);
  }
  return {max_G - min_free, min_free};
}

// The samples come in random order, so each one would start with a wait
// for memory: its nodes are asked for one visit ahead.
void Sequential_dual_crammer_singer::prefetch_sample(int i) const {
  const Node* const x = samples_[i];
  for (int t = 0; t < length_[i]; t += 4) __builtin_prefetch(x + t);
}

void Sequential_dual_crammer_singer::add_to_class(int i, int m, double step) {
  if (step == 0) return;
  double* const w = &w_[static_cast<std::size_t>(m) * features_];
  for (const Node* x = samples_[i]; x->index != -1; ++x) w[x->index] += step * x->value;
}

double Sequential_dual_crammer_singer::largest_violation() {
  double largest = 0;
  for (int i = 0; i < count_; ++i) {
    const int* const classes = &class_order_[static_cast<std::size_t>(i) * classes_];
    largest = std::max(largest, gradient(i, classes, classes_, G_.data()).violation);
  }
  return largest;
}

double Sequential_dual_crammer_singer::objective() {
  double sum = 0;
  for (int i = 0; i < count_; ++i) {
    const int* const classes = &class_order_[static_cast<std::size_t>(i) * classes_];
    const double* const alpha = alpha_ + static_cast<std::size_t>(i) * classes_;
    gradient(i, classes, classes_, G_.data());
    for (int j = 0; j < classes_; ++j) {
      const double e = classes[j] == labels_[i] ? 0.0 : 1.0;
      sum += 0.5 * (G_[j] + e) * alpha[classes[j]];
    }
  }
  return sum;
}

}  // namespace tevra
