// Dual_coordinate_descent: passes of exact one-variable steps over w.
#include "learn/coordinate_descent/dual_coordinate_descent.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <utility>

#include "learn/coordinate_descent/sparse_dot.h"

namespace tevra {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// Passes between two progress marks.
constexpr int kPassesPerMark = 10;

// |x|^2 + 1: the diagonal entry of x-bar.
double extended_square(const Node* x) {
  double sum = 0;
  for (; x->index != -1; ++x) sum += x->value * x->value;
  return sum + 1;
}


}  // namespace

int Dual_coordinate_descent::solve_two_class(int l, Node* const* samples,
                                             const signed char* signs, double* alpha, double* w,
                                             int bias_slot, double C_pos, double C_neg,
                                             double eps, int shrinking, Solve_result* result) {
  count_ = l;
  samples_ = samples;
  w_ = w;
  bias_slot_ = bias_slot;
  p_ = 0;
  v_.assign(alpha, alpha + l);
  lower_.assign(l, 0.0);
  upper_.resize(l);
  sign_.resize(l);
  shift_.assign(l, -1.0);
  diagonal_.resize(l);
  length_.resize(l);
  for (int i = 0; i < l; ++i) {
    upper_[i] = signs[i] > 0 ? C_pos : C_neg;
    sign_[i] = signs[i];
    diagonal_[i] = extended_square(samples[i]);
    length_[i] = node_count(samples[i]);
  }
  const int passes = run(eps, shrinking);
  std::copy(v_.begin(), v_.end(), alpha);
  result->objective = objective();
  result->bounds = static_cast<double*>(std::malloc(2 * sizeof(double)));
  result->bounds[0] = C_pos;
  result->bounds[1] = C_neg;
  return passes;
}

int Dual_coordinate_descent::solve_regression(int l, Node* const* samples, const double* y,
                                              double p, double* alpha, double* w, int bias_slot,
                                              double C, double eps, int shrinking,
                                              Solve_result* result) {
  count_ = l;
  samples_ = samples;
  w_ = w;
  bias_slot_ = bias_slot;
  p_ = p;
  v_.resize(l);
  lower_.assign(l, -C);
  upper_.assign(l, C);
  sign_.assign(l, 1.0);
  shift_.resize(l);
  diagonal_.resize(l);
  length_.resize(l);
  for (int i = 0; i < l; ++i) {
    v_[i] = alpha[i] - alpha[l + i];
    shift_[i] = -y[i];
    diagonal_[i] = extended_square(samples[i]);
    length_[i] = node_count(samples[i]);
  }
  const int passes = run(eps, shrinking);
  for (int i = 0; i < l; ++i) {
    alpha[i] = v_[i] > 0 ? v_[i] : 0;
    alpha[l + i] = v_[i] < 0 ? -v_[i] : 0;
  }
  result->objective = objective();
  result->bounds = static_cast<double*>(std::malloc(2 * sizeof(double)));
  result->bounds[0] = C;
  result->bounds[1] = C;
  return passes;
}

int Dual_coordinate_descent::run(double eps, int shrinking) {
  const int l = count_;
  active_.resize(l);
  std::iota(active_.begin(), active_.end(), 0);
  int active_count = l;
  // No variable leaves the active set in the first pass.
  Shrink_thresholds thresholds{infinity, infinity};
  int passes = 0;
  for (;;) {
    ++passes;
    order_.shuffle(active_.data(), active_count);
    Violation largest;
    bool moved = false;
    for (int k = 0; k < active_count; ++k) {
      const int i = active_[k];
      const double g = gradient(i, samples_[active_[k + 1 < active_count ? k + 1 : k]]);
      if (shrinking && settled(i, g, thresholds)) {
        --active_count;
        std::swap(active_[k], active_[active_count]);
        --k;  // the sample swapped in is visited next
        continue;
      }
      const Violation v = violation(i, g);
      largest.up = std::max(largest.up, v.up);
      largest.down = std::max(largest.down, v.down);
      const double z = minimiser(i, g);
      if (z != v_[i]) {
        move(i, z);
        moved = true;
      }
    }
    if (passes % kPassesPerMark == 0) log_info(progress_, ".");

    const bool looks_optimal = largest.size() < eps;
    if ((looks_optimal || !moved) && active_count < l) {
      // The shrunk variables may have drifted out of place: one more look
      // at all of them.
      active_count = l;
      thresholds = {infinity, infinity};
      log_info(progress_, "*");
      continue;
    }
    // A pass over every variable that moves none would repeat forever; so
    // would one that left w not finite (every step goes into the bias).
    if (!moved || !std::isfinite(w_[bias_slot_])) break;
    // The pass measured each violation before its own step and after the
    // steps before it: confirm at the final w.
    if (looks_optimal && largest_violation() < eps) break;
    // A variable at a bound leaves when it is more settled than the worst
    // variable that wants to move the other way was unsettled.
    thresholds.up = largest.down > 0 ? largest.down : infinity;
    thresholds.down = largest.up > 0 ? largest.up : infinity;
  }
  return passes;
}

// The walk also asks for the nodes of the sample visited next, one cache
// line per four of its own nodes: the samples come in random order, so
// without that each one would start with a wait for memory.
double Dual_coordinate_descent::gradient(int i, const Node* next) const {
  const int n = length_[i];
  for (int t = 0; t < n; t += 4) __builtin_prefetch(next + t);
  return sign_[i] * (sparse_dot(samples_[i], n, w_) + w_[bias_slot_]) + shift_[i];
}

// Raising v_i changes the dual at the rate g + p sign(v_i) (the sign taken
// on the side it moves to), lowering it at minus g + p sign(v_i). A move the
// box allows at a negative rate is a violation of that size.
Dual_coordinate_descent::Violation Dual_coordinate_descent::violation(int i, double g) const {
  const double v = v_[i];
  Violation worst;
  if (v < upper_[i]) worst.up = std::max(0.0, -(g + (v >= 0 ? p_ : -p_)));
  if (v > lower_[i]) worst.down = std::max(0.0, g + (v > 0 ? p_ : -p_));
  return worst;
}

bool Dual_coordinate_descent::settled(int i, double g, const Shrink_thresholds& t) const {
  const double v = v_[i];
  const bool up_closed = v == upper_[i] || g + (v >= 0 ? p_ : -p_) > t.up;
  const bool down_closed = v == lower_[i] || -(g + (v > 0 ? p_ : -p_)) > t.down;
  return up_closed && down_closed;
}

// The dual along coordinate i is 1/2 Q_ii (z - v_i)^2 + g (z - v_i) + p |z|
// plus a constant: its minimiser over the line is v_i - (g + p)/Q_ii when
// that is positive, v_i - (g - p)/Q_ii when that is negative, else 0; it is
// convex, so the minimiser over the box is that value clipped.
double Dual_coordinate_descent::minimiser(int i, double g) const {
  const double v = v_[i];
  const double q = diagonal_[i];
  double z = v - (g + p_) / q;
  if (!(z > 0)) {
    z = v - (g - p_) / q;
    if (!(z < 0)) z = 0;
  }
  return std::min(std::max(z, lower_[i]), upper_[i]);
}

void Dual_coordinate_descent::move(int i, double z) {
  const double step = sign_[i] * (z - v_[i]);
  v_[i] = z;
  for (const Node* x = samples_[i]; x->index != -1; ++x) w_[x->index] += step * x->value;
  w_[bias_slot_] += step;
}

double Dual_coordinate_descent::largest_violation() const {
  double largest = 0;
  for (int i = 0; i < count_; ++i)
    largest = std::max(largest, violation(i, gradient(i, samples_[i + 1 < count_ ? i + 1 : i])).size());
  return largest;
}

double Dual_coordinate_descent::objective() const {
  double sum = 0;
  for (int i = 0; i < count_; ++i)
    sum += 0.5 * (gradient(i, samples_[i]) + shift_[i]) * v_[i] + p_ * std::fabs(v_[i]);
  return sum;
}

}  // namespace tevra
