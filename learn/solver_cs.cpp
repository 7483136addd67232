#include "learn/solver_cs.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "tools/common/progress.h"

namespace tevra {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

}  // namespace

void Solver_CS::solve(int l, Kernel& Q, double* alpha, const int* labels,
                      const double* class_C, double eps, int shrinking, int nr_class,
                      int svm_type) {
  initialize(l, Q, alpha, labels, class_C, eps, nr_class, svm_type);
  optimize(shrinking);
  finish(alpha);
}

void Solver_CS::initialize(int l, Kernel& Q, const double* alpha_in,
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

  below_bound.resize(n);
  for (int i = 0; i < l; ++i)
    for (int m = 0; m < k; ++m)
      below_bound[entry(i, m)] = alpha[entry(i, m)] < upper_bound(i, m) ? 1 : 0;

  active_order.resize(l);
  for (int i = 0; i < l; ++i) active_order[i] = i;
  active_count = l;
  unshrunk = false;
  iter = 0;

  // The label entry carries the d term too, as in rebuild_gradient, so that
  // a non-zero starting point gets its true gradient under spoc_l2.
  gradient.assign(n, 1.0);
  for (int i = 0; i < l; ++i) {
    const int y = labels[i];
    gradient[entry(i, y)] = label_diagonal[y] * alpha[entry(i, y)];
  }
  for (int i = 0; i < l; ++i) {
    const float* column = nullptr;
    for (int m = 0; m < k; ++m) {
      const double a = alpha[entry(i, m)];
      if (a == 0) continue;
      if (column == nullptr) column = Q.get_column(i, l);
      for (int j = 0; j < l; ++j) gradient[entry(j, m)] += column[j] * a;
    }
  }

  sub_linear.resize(k);
  sub_solution.resize(k);
  sub_change.resize(k);
  sort_buffer.resize(static_cast<std::size_t>(k) + 1);
}

void Solver_CS::optimize(int shrinking) {
  const int period = shrink_period(sample_count);
  int countdown = period + 1;
  int previous = -1;

  for (;;) {
    if (--countdown == 0) {
      if (shrinking) shrink();
      log_info(".");
      countdown = period;
    }

    // A negative i means no active sample can be updated (the active set is
    // empty, or no sample has a free variable): only the full check below
    // may go on, and only with a sample it selected.
    int i = -1;
    double violation = select_sample(&i);
    if (eps > violation || i < 0) {
      rebuild_gradient();
      active_count = sample_count;
      log_info("*");
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
  const int k = nr_class;
  double best = -infinity;
  *chosen = -1;
  for (int i = 0; i < active_count; ++i) {
    double max_G = -infinity;
    double min_G = infinity;
    for (int m = 0; m < k; ++m) {
      const double g = gradient[entry(i, m)];
      if (g > max_G) max_G = g;
      if (below_bound[entry(i, m)] && g < min_G) min_G = g;
    }
    const double violation = max_G - min_G;
    if (violation > best) {
      best = violation;
      *chosen = i;
    }
  }
  return best;
}

void Solver_CS::update_sample(int i) {
  const int k = nr_class;
  const int y = labels[i];
  const float* column = Q->get_column(i, active_count);
  const double A = column[i];
  double* B = sub_linear.data();
  double* a = sub_solution.data();

  for (int m = 0; m < k; ++m) B[m] = gradient[entry(i, m)] - A * alpha[entry(i, m)];
  B[y] -= label_diagonal[y] * alpha[entry(i, y)];

  if (A > 0) {
    solve_sample(A, B, class_C[y], y, a);
  } else {
    // Without curvature the sub-problem is linear in the mass moved from the
    // label to the most attractive other class. A negative Q_ii (a kernel
    // that is not positive semi-definite) is treated the same way: the
    // closed form would give values that break the sample's equality
    // constraint, or infinite ones, and this step stays feasible and finite.
    for (int m = 0; m < k; ++m) a[m] = 0;
    int b = 0;
    for (int m = 1; m < k; ++m)
      if (B[m] > B[b]) b = m;
    if (b != y) {
      a[y] = svm_type == spoc_l2 ? 2 * class_C[y] * (B[b] - B[y]) : class_C[y];
      a[b] = -a[y];
    }
  }

  // Every gradient entry receives exactly one column term, so walking the
  // samples in the outer loop (contiguous rows) gives the same sums as
  // walking the classes; the label's diagonal term comes first either way.
  double* delta = sub_change.data();
  for (int m = 0; m < k; ++m) delta[m] = a[m] - alpha[entry(i, m)];
  gradient[entry(i, y)] += delta[y] * label_diagonal[y];
  for (int m = 0; m < k; ++m) {
    alpha[entry(i, m)] = a[m];
    below_bound[entry(i, m)] = alpha[entry(i, m)] < upper_bound(i, m) ? 1 : 0;
  }
  for (int j = 0; j < active_count; ++j) {
    const double q = column[j];
    double* row = &gradient[entry(j, 0)];
    for (int m = 0; m < k; ++m) row[m] += q * delta[m];
  }
}

void Solver_CS::solve_sample(double A, const double* B, double cost, int y, double* result) {
  const int k = nr_class;
  const double d = label_diagonal[y];
  const double U = label_bound[y];
  const double phi = A / (A + d);
  double* D = sort_buffer.data();
  const auto larger_first = [](double u, double v) { return u > v; };

  for (int m = 0; m < k; ++m) D[m] = B[m];
  D[y] += A * cost;
  if (U == infinity) {
    // The label's entry has its own weight phi and stays out of the sort.
    std::swap(D[0], D[y]);
    std::sort(D + 1, D + k, larger_first);
  } else {
    std::sort(D, D + k, larger_first);
  }
  D[k] = -infinity;

  double beta = (D[0] - A * cost) * phi;
  int r = 1;
  // A > 0 gives phi in (0, 1], so the sentinel ends the walk at r = k at the
  // latest.
  while ((r - 1 + phi) * D[r] > beta) {
    beta += D[r];
    ++r;
  }
  beta /= (r - 1 + phi);

  for (int m = 0; m < k; ++m) result[m] = std::min(0.0, (beta - B[m]) / A);
  result[y] = std::min(U, (beta - B[y]) / (A + d));
}

void Solver_CS::shrink() {
  const int k = nr_class;
  int ignored;
  const double violation = select_sample(&ignored);
  if (eps > violation) return;
  const double t = violation / 2;

  for (int i = 0; i < active_count;) {
    const int y = labels[i];
    const double theta = gradient[entry(i, y)] - t;
    bool stays = false;
    for (int m = 0; m < k && !stays; ++m) {
      if (m == y) continue;
      stays = below_bound[entry(i, m)] || gradient[entry(i, m)] >= theta;
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
    const double theta = gradient[entry(i, y)] - t;
    bool margin = true;
    for (int m = 0; m < k && margin; ++m)
      if (m != y) margin = gradient[entry(i, m)] < theta;
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

  for (int i = active_count; i < l; ++i) {
    for (int m = 0; m < k; ++m) gradient[entry(i, m)] = 1;
    const int y = labels[i];
    gradient[entry(i, y)] = label_diagonal[y] * alpha[entry(i, y)];
  }
  for (int i = 0; i < active_count; ++i) {
    const float* column = nullptr;
    for (int m = 0; m < k; ++m) {
      const double a = alpha[entry(i, m)];
      if (a == 0) continue;
      if (column == nullptr) column = Q->get_column(i, l);
      for (int j = active_count; j < l; ++j) gradient[entry(j, m)] += column[j] * a;
    }
  }
}

void Solver_CS::swap_samples(int i, int j) {
  Q->swap_entries(i, j);
  std::swap(labels[i], labels[j]);
  std::swap(active_order[i], active_order[j]);
  for (int m = 0; m < nr_class; ++m) {
    std::swap(gradient[entry(i, m)], gradient[entry(j, m)]);
    std::swap(alpha[entry(i, m)], alpha[entry(j, m)]);
    std::swap(below_bound[entry(i, m)], below_bound[entry(j, m)]);
  }
}

void Solver_CS::finish(double* alpha_out) {
  const int l = sample_count;
  const int k = nr_class;
  const std::size_t n = static_cast<std::size_t>(l) * static_cast<std::size_t>(k);

  double weighted_sum = 0;
  for (std::size_t t = 0; t < n; ++t) weighted_sum += (gradient[t] + 1) * alpha[t];
  double label_sum = 0;
  for (int i = 0; i < l; ++i) label_sum += alpha[entry(i, labels[i])];
  const double objective = 0.5 * (weighted_sum - label_sum);

  int nSV = 0;
  int nFREE = 0;
  for (std::size_t t = 0; t < n; ++t) {
    if (std::fabs(alpha[t]) > 0) ++nSV;
    if (below_bound[t]) ++nFREE;
  }
  log_info("\noptimization finished, #iter = %d, obj = %lf\n", iter, objective);
  log_info("nSV = %d, nFREE = %d\n", nSV, nFREE);

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
  below_bound = std::vector<unsigned char>();
  sub_linear = std::vector<double>();
  sub_solution = std::vector<double>();
  sub_change = std::vector<double>();
  sort_buffer = std::vector<double>();
}

}  // namespace tevra
