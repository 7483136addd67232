// Helpers shared by the decomposition-solver tests: a dense Q-matrix object
// and an independent reference solve.
#ifndef TEVRA_TESTS_LEARN_SOLVER_TEST_SUPPORT_H_
#define TEVRA_TESTS_LEARN_SOLVER_TEST_SUPPORT_H_

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "learn/kernel.h"
#include "learn/tevra.h"
#include "tests/learn/test_run.h"

namespace tevra {
namespace testing_support {

// Q matrix given entry by entry (rounded to float like the real ones), that
// follows swap_entries and counts column requests.
class Dense_Q : public Kernel {
 public:
  Dense_Q(int n, const std::vector<double>& q)
      : Kernel(n, empty_samples(n), default_parameter()),
        n_(n),
        entries_(q.begin(), q.end()),
        order_(n),
        storage_(static_cast<size_t>(n) * n) {
    for (int i = 0; i < n; ++i) order_[i] = i;
  }

  const float* get_column(int i, int len) override {
    ++column_requests;
    shortest_request = std::min(shortest_request, len);
    // Each position has its own storage, so a solver may hold several.
    float* column = &storage_[static_cast<size_t>(i) * n_];
    for (int t = 0; t < len; ++t) column[t] = entries_[static_cast<size_t>(order_[i]) * n_ + order_[t]];
    return column;
  }

  void swap_entries(int i, int j) override {
    Kernel::swap_entries(i, j);
    std::swap(order_[i], order_[j]);
  }

  int column_requests = 0;
  int shortest_request = 1 << 30;  // shortest column length asked for

 private:
  static Node* const* empty_samples(int n) {
    static Node end{-1, 0};
    static std::vector<Node*> samples;
    samples.assign(std::max(n, 1), &end);
    return samples.data();
  }

  int n_;
  std::vector<float> entries_;  // row-major original order
  std::vector<int> order_;      // original index at each position
  std::vector<float> storage_;
};

// Q(i, j) = s_i s_j (x_i . x_j + 1) for random dense points, rounded to
// float and widened again, so the reference sees exactly the solver's matrix.
inline std::vector<double> random_q(int n, int dim, const std::vector<signed char>& signs,
                                    std::mt19937& rng) {
  std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
  std::vector<double> x(static_cast<size_t>(n) * dim);
  for (double& v : x) v = coordinate(rng);
  std::vector<double> q(static_cast<size_t>(n) * n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      double k = 0;
      for (int d = 0; d < dim; ++d) k += x[i * dim + d] * x[j * dim + d];
      q[i * n + j] = static_cast<float>(signs[i] * signs[j] * (k + 1));
    }
  }
  return q;
}

// 1/2 a'Qa + b'a.
inline double dual_objective(const std::vector<double>& q, const std::vector<double>& b,
                             const std::vector<double>& a) {
  const size_t n = b.size();
  double value = 0;
  for (size_t i = 0; i < n; ++i) {
    double qa = 0;
    for (size_t j = 0; j < n; ++j) qa += q[i * n + j] * a[j];
    value += a[i] * (0.5 * qa + b[i]);
  }
  return value;
}

inline std::vector<double> dual_gradient(const std::vector<double>& q,
                                         const std::vector<double>& b,
                                         const std::vector<double>& a) {
  const size_t n = b.size();
  std::vector<double> g(b);
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) g[i] += q[i * n + j] * a[j];
  }
  return g;
}

// Plain projected coordinate descent to a violation of 1e-11: an
// independent reference for the decomposition solvers.
inline std::vector<double> reference_solve(const std::vector<double>& q,
                                           const std::vector<double>& b,
                                           const std::vector<double>& upper) {
  const size_t n = b.size();
  std::vector<double> a(n, 0.0);
  std::vector<double> g(b);
  for (int sweep = 0; sweep < 200000; ++sweep) {
    double largest = 0;
    for (size_t i = 0; i < n; ++i) {
      const double next = std::min(std::max(a[i] - g[i] / q[i * n + i], 0.0), upper[i]);
      const double delta = next - a[i];
      if (delta == 0) continue;
      largest = std::max(largest, std::fabs(delta));
      a[i] = next;
      for (size_t t = 0; t < n; ++t) g[t] += q[t * n + i] * delta;
    }
    if (largest < 1e-11) break;
  }
  return a;
}

}  // namespace testing_support
}  // namespace tevra

#endif  // TEVRA_TESTS_LEARN_SOLVER_TEST_SUPPORT_H_
