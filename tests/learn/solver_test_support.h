// Helpers shared by the decomposition-solver tests: a dense Q-matrix object
// and an independent reference solve.
#ifndef TEVRA_TESTS_LEARN_SOLVER_TEST_SUPPORT_H_
#define TEVRA_TESTS_LEARN_SOLVER_TEST_SUPPORT_H_

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "learn/q_matrix.h"
#include "learn/tevra.h"
#include "tests/learn/test_run.h"

namespace tevra {
namespace testing_support {

// A Q matrix given entry by entry in single precision, as the real ones
// hold them. It follows the solver's exchanges of positions through a
// permutation, gives each position storage of its own (a solver may hold
// several columns at once), and logs every column request.
class Dense_Q : public Q_matrix {
 public:
  // n x n entries, row-major, in the caller's order.
  Dense_Q(int n, std::vector<float> entries)
      : n(n), entries(std::move(entries)), order(n), storage_(static_cast<size_t>(n) * n) {
    for (int i = 0; i < n; ++i) order[i] = i;
  }

  void get_columns(const int* positions, int count, int len, const float** columns) override {
    for (int k = 0; k < count; ++k) {
      const int i = positions[k];
      events += 'c';
      lengths.push_back(len);
      float* column = &storage_[static_cast<size_t>(i) * n];
      for (int t = 0; t < len; ++t) column[t] = entry(order[i], order[t]);
      columns[k] = column;
    }
  }

  void swap_entries(int i, int j) override {
    std::swap(order[i], order[j]);
    ++swaps;
  }

  // Entry (a, b) in the caller's order.
  float entry(int a, int b) const { return entries[static_cast<size_t>(a) * n + b]; }
  int column_requests() const { return static_cast<int>(lengths.size()); }
  int shortest_request() const {
    return lengths.empty() ? 0 : *std::min_element(lengths.begin(), lengths.end());
  }

  int n;
  std::vector<float> entries;  // row-major n x n, caller's order
  std::vector<int> order;      // caller's index at each position
  std::string events;          // 'c' per column; a test may echo prints in between
  std::vector<int> lengths;    // length of each column request
  int swaps = 0;

 private:
  std::vector<float> storage_;
};

// Entries rounded to single precision, for Dense_Q.
inline std::vector<float> single(const std::vector<double>& q) {
  return std::vector<float>(q.begin(), q.end());
}

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
