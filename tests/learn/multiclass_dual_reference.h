// A plain, independent statement of the kbb dual for tests: small dense
// samples, the Q matrix over (sample, competing class) variables written out
// from its definition, and a slow coordinate-descent solve to compare with.
#ifndef TEVRA_TESTS_LEARN_MULTICLASS_DUAL_REFERENCE_H_
#define TEVRA_TESTS_LEARN_MULTICLASS_DUAL_REFERENCE_H_

#include <algorithm>
#include <cmath>
#include <vector>

#include "learn/tevra.h"

namespace tevra {
namespace reference {

// Dense samples turned into the sparse Node form, grouped by class.
struct Sample_set {
  std::vector<std::vector<double>> rows;  // dense features, feature k at index k + 1
  std::vector<int> classes;               // class index of each sample
  std::vector<std::vector<Node>> nodes;
  std::vector<Node*> pointers;
  std::vector<double> labels;
  Problem problem{};

  // rows must already be grouped by class (class 0 first, ...).
  Sample_set(std::vector<std::vector<double>> dense, std::vector<int> cls)
      : rows(std::move(dense)), classes(std::move(cls)) {
    for (const auto& row : rows) {
      std::vector<Node> sample;
      for (size_t k = 0; k < row.size(); ++k) {
        if (row[k] != 0) sample.push_back({static_cast<int>(k) + 1, row[k]});
      }
      sample.push_back({-1, 0});
      nodes.push_back(sample);
    }
    for (auto& sample : nodes) pointers.push_back(sample.data());
    for (int c : classes) labels.push_back(c);
    problem.sample_count = static_cast<int>(rows.size());
    problem.max_index = rows.empty() ? 0 : static_cast<int>(rows[0].size());
    problem.labels = labels.data();
    problem.samples = pointers.data();
  }

  // Problem points into the members: never copied.
  Sample_set(const Sample_set&) = delete;
  Sample_set& operator=(const Sample_set&) = delete;

  std::vector<int> class_sizes(int n) const {
    std::vector<int> sizes(n, 0);
    for (int c : classes) ++sizes[c];
    return sizes;
  }
};

// Deterministic clustered samples: class c is centred at a point of its own.
inline Sample_set clustered_samples(const std::vector<int>& sizes, int features, unsigned seed) {
  unsigned state = seed;
  auto uniform = [&state]() {
    state = state * 1103515245u + 12345u;
    return static_cast<double>((state >> 8) & 0xffff) / 65535.0;  // [0, 1]
  };
  std::vector<std::vector<double>> rows;
  std::vector<int> classes;
  for (int c = 0; c < static_cast<int>(sizes.size()); ++c) {
    for (int s = 0; s < sizes[c]; ++s) {
      std::vector<double> row(features);
      for (int k = 0; k < features; ++k) {
        const double centre = ((c + k) % 3) - 1.0;
        // Rounded to a few digits, and sometimes 0 so samples are sparse.
        const double value = std::round((centre + 1.4 * (uniform() - 0.5)) * 100) / 100;
        row[k] = uniform() < 0.15 ? 0.0 : value;
      }
      rows.push_back(row);
      classes.push_back(c);
    }
  }
  return Sample_set(rows, classes);
}

// K(x, y) for the linear or rbf kernel, from the dense rows.
inline double kernel(const std::vector<double>& x, const std::vector<double>& y, int kernel_type,
                     double gamma) {
  double sum = 0;
  for (size_t k = 0; k < x.size(); ++k) {
    if (kernel_type == linear) {
      sum += x[k] * y[k];
    } else {
      sum += (x[k] - y[k]) * (x[k] - y[k]);
    }
  }
  return kernel_type == linear ? sum : std::exp(-gamma * sum);
}

// One variable of the dual: sample s of class own, competing class other.
struct Variable {
  int sample;
  int own;
  int other;
};

// The variables block by block: block j lists, class by class, every
// sample not of class j.
inline std::vector<Variable> block_variables(const std::vector<int>& sizes) {
  const int n = static_cast<int>(sizes.size());
  std::vector<Variable> variables;
  for (int j = 0; j < n; ++j) {
    int first = 0;
    for (int y = 0; y < n; ++y) {
      if (y != j) {
        for (int s = first; s < first + sizes[y]; ++s) variables.push_back({s, y, j});
      }
      first += sizes[y];
    }
  }
  return variables;
}

inline int class_coefficient(const Variable& a, const Variable& b) {
  return (a.own == b.own) + (a.other == b.other) - (a.own == b.other) - (a.other == b.own);
}

// The dense Q over the variables, with the kernel entries rounded to single
// precision as the solver sees them.
inline std::vector<std::vector<double>> dual_matrix(const Sample_set& set,
                                                    const std::vector<Variable>& variables,
                                                    int kernel_type, double gamma) {
  const size_t l = variables.size();
  std::vector<std::vector<double>> Q(l, std::vector<double>(l));
  for (size_t i = 0; i < l; ++i) {
    for (size_t j = 0; j < l; ++j) {
      const float entry =
          static_cast<float>(kernel(set.rows[variables[i].sample], set.rows[variables[j].sample],
                                    kernel_type, gamma)) +
          1.0f;
      Q[i][j] = class_coefficient(variables[i], variables[j]) * static_cast<double>(entry);
    }
  }
  return Q;
}

inline std::vector<double> gradient(const std::vector<std::vector<double>>& Q,
                                    const std::vector<double>& alpha, double b) {
  std::vector<double> G(alpha.size(), b);
  for (size_t i = 0; i < alpha.size(); ++i) {
    for (size_t j = 0; j < alpha.size(); ++j) G[i] += Q[i][j] * alpha[j];
  }
  return G;
}

// f = 1/2 a'Qa + b sum(a).
inline double objective(const std::vector<std::vector<double>>& Q,
                        const std::vector<double>& alpha, double b) {
  const std::vector<double> G = gradient(Q, alpha, b);
  double f = 0;
  for (size_t i = 0; i < alpha.size(); ++i) f += 0.5 * (G[i] + b) * alpha[i];
  return f;
}

// Cyclic coordinate descent with exact one-dimensional steps, clipped to
// the box, until no variable moves by more than 1e-11. The problem is
// convex, so any start inside the box leads to the optimal value.
inline std::vector<double> solve(const std::vector<std::vector<double>>& Q, double b,
                                 const std::vector<double>& upper,
                                 std::vector<double> alpha = {}) {
  const size_t l = upper.size();
  if (alpha.empty()) alpha.assign(l, 0.0);
  std::vector<double> G = gradient(Q, alpha, b);
  for (int sweep = 0; sweep < 100000; ++sweep) {
    double largest_move = 0;
    for (size_t i = 0; i < l; ++i) {
      const double target = std::min(upper[i], std::max(0.0, alpha[i] - G[i] / Q[i][i]));
      const double d = target - alpha[i];
      if (d == 0) continue;
      alpha[i] = target;
      for (size_t j = 0; j < l; ++j) G[j] += Q[j][i] * d;
      largest_move = std::max(largest_move, std::fabs(d));
    }
    if (largest_move < 1e-11) break;
  }
  return alpha;
}

}  // namespace reference
}  // namespace tevra

#endif  // TEVRA_TESTS_LEARN_MULTICLASS_DUAL_REFERENCE_H_
