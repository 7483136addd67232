// Prediction of one sample by a trained model.
//
// c_svc votes over every pair of classes, kbb and the Crammer and Singer
// formulations take the class of the largest decision value, epsilon_svr
// sums the weighted kernel values. c_svc, kbb and epsilon_svr add 1 to every
// kernel value, the bias their training folds into the kernel. Sums are taken
// in a fixed order so that a model read from a file predicts bit for bit what
// the same numbers in memory predict. Ties go to the class earliest in label
// order; a comparison with a value that is not a number is false.
//
// Every rule first computes the kernel value of x with each support vector.
// With the dot-product kernels they come from the model's sv_columns when it
// has them, with the same bits as the merge walks of kernel_value.
//
// A classification model without any class (trained on an empty set) has
// no label to return; it predicts 0.
#include <algorithm>
#include <cstddef>
#include <vector>

#include "learn/kernel.h"
#include "learn/model_layout.h"
#include "learn/sv_columns.h"
#include "learn/tevra.h"

namespace tevra {

namespace {

// Index of the largest value; the first of equal values wins.
int first_largest(const std::vector<double>& values) {
  int best = 0;
  for (int a = 1; a < static_cast<int>(values.size()); ++a)
    if (values[a] > values[best]) best = a;
  return best;
}

// The rules take the kernel values K[s] = K(x, SV[s]), unshifted.

double predict_one_against_one(const Model& model, const double* K) {
  const int nr_class = model.nr_class;
  const std::vector<int> start = group_starts(model.nr_sv, nr_class);
  std::vector<int> votes(nr_class, 0);
  for (int i = 0; i < nr_class; ++i) {
    for (int j = i + 1; j < nr_class; ++j) {
      double sum = 0;
      const double* row_j = model.coefficients[other_class_row(i, j)];
      for (int s = start[i]; s < start[i] + model.nr_sv[i]; ++s) sum += row_j[s] * (K[s] + 1);
      const double* row_i = model.coefficients[other_class_row(j, i)];
      for (int s = start[j]; s < start[j] + model.nr_sv[j]; ++s) sum += row_i[s] * (K[s] + 1);
      if (sum > 0)
        ++votes[i];
      else
        ++votes[j];
    }
  }
  int winner = 0;
  for (int a = 1; a < nr_class; ++a)
    if (votes[a] > votes[winner]) winner = a;
  return model.label[winner];
}

double predict_single_problem(const Model& model, const double* K) {
  const int nr_class = model.nr_class;
  const int rows = nr_class - 1;
  std::vector<double> coefficient_sum(model.total_sv);
  for (int s = 0; s < model.total_sv; ++s) {
    // A single class has no rows (a file may still list support vectors).
    double sum = rows > 0 ? model.coefficients[0][s] : 0;
    for (int r = 1; r < rows; ++r) sum += model.coefficients[r][s];
    coefficient_sum[s] = sum;
  }
  const std::vector<int> start = group_starts(model.nr_sv, nr_class);
  std::vector<double> dec(nr_class, 0.0);
  for (int a = 0; a < nr_class; ++a) {
    for (int s = start[a]; s < start[a] + model.nr_sv[a]; ++s) {
      const double k = K[s] + 1;
      for (int b = 0; b < a; ++b)
        dec[b] = dec[b] - k * model.coefficients[other_class_row(a, b)][s];
      dec[a] = dec[a] + k * coefficient_sum[s];
      for (int b = a + 1; b < nr_class; ++b)
        dec[b] = dec[b] - k * model.coefficients[other_class_row(a, b)][s];
    }
  }
  return model.label[first_largest(dec)];
}

double predict_crammer_singer(const Model& model, const double* K) {
  std::vector<double> dec(model.nr_class, 0.0);
  for (int s = 0; s < model.total_sv; ++s) {
    const double k = K[s];
    for (int a = 0; a < model.nr_class; ++a) dec[a] = dec[a] + k * model.coefficients[a][s];
  }
  return model.label[first_largest(dec)];
}

double predict_regression(const Model& model, const double* K) {
  double sum = 0;
  const double* row = model.coefficients[0];
  for (int s = 0; s < model.total_sv; ++s) sum = sum + (K[s] + 1) * row[s];
  return sum;
}

// The prediction of a model that needs no kernel value: a regression
// model without support vectors, a classification model without classes.
bool without_kernel_values(const Model& model) {
  return model.param.svm_type == epsilon_svr ? model.total_sv <= 0 : model.nr_class < 1;
}

double decide(const Model& model, const double* K) {
  if (without_kernel_values(model)) return 0;
  switch (model.param.svm_type) {
    case epsilon_svr:
      return predict_regression(model, K);
    case c_svc:
      return predict_one_against_one(model, K);
    case kbb:
      return predict_single_problem(model, K);
    default:
      return predict_crammer_singer(model, K);
  }
}

// rows[b][s] = K(xs[b], SV[s]) for the count samples: from the model's
// sv_columns where it has them and they handle the sample, else one
// kernel_value after another.
void kernel_values(const Model& model, const Node* const* xs, double* const* rows, int count) {
  const Support_vector_columns* const columns = model.sv_columns;
  std::vector<const Node*> indexed;
  std::vector<double*> indexed_rows;
  for (int b = 0; b < count; ++b) {
    if (columns != nullptr && Support_vector_columns::handles(xs[b])) {
      indexed.push_back(xs[b]);
      indexed_rows.push_back(rows[b]);
    } else {
      for (int s = 0; s < model.total_sv; ++s)
        rows[b][s] = kernel_value(xs[b], model.SV[s], model.param);
    }
  }
  if (indexed.empty()) return;
  columns->dot_products(indexed.data(), indexed_rows.data(), static_cast<int>(indexed.size()));
  if (model.param.kernel_type == linear) return;
  for (double* row : indexed_rows)
    for (int s = 0; s < model.total_sv; ++s) row[s] = kernel_of_dot(row[s], model.param);
}

// Samples predicted together by predict_values: enough for the tiles of
// sv_columns to be walked while they stay in cache, few enough that the
// kernel values of a batch stay in a few MiB.
constexpr int kBatchSamples = 32;
constexpr long long kBatchValues = 1 << 19;

}  // namespace

double predict_value(const Model* model, const Node* x) {
  if (without_kernel_values(*model)) return decide(*model, nullptr);
  std::vector<double> K(model->total_sv);
  double* const row = K.data();
  kernel_values(*model, &x, &row, 1);
  return decide(*model, row);
}

void predict_values(const Model* model, const Node* const* samples, int count, double* values) {
  if (without_kernel_values(*model)) {
    for (int b = 0; b < count; ++b) values[b] = decide(*model, nullptr);
    return;
  }
  const long long n = model->total_sv;
  const int batch = static_cast<int>(
      std::clamp(kBatchValues / std::max(n, 1LL), 1LL, static_cast<long long>(kBatchSamples)));
  std::vector<double> K(static_cast<std::size_t>(batch * n));
  std::vector<double*> rows(batch);
  for (int b = 0; b < batch; ++b) rows[b] = K.data() + b * n;
  for (int first = 0; first < count; first += batch) {
    const int size = std::min(batch, count - first);
    kernel_values(*model, samples + first, rows.data(), size);
    for (int b = 0; b < size; ++b) values[first + b] = decide(*model, rows[b]);
  }
}

}  // namespace tevra
