#include "python/src/prediction.h"

#include <stdexcept>
#include <string>

#include "learn/kernel.h"

namespace tevra_python {

namespace {

using tevra::Model;

std::vector<int> class_starts(const Model& model) {
  std::vector<int> start(model.nr_class > 0 ? model.nr_class : 1, 0);
  for (int a = 1; a < model.nr_class; ++a) start[a] = start[a - 1] + model.nr_sv[a - 1];
  return start;
}

// Kernel value against every support vector, plus 1 where the formulation
// folds its bias into the kernel.
void kernel_row(const Model& model, const Node* x, std::vector<double>* k) {
  const bool shifted = model.param.svm_type != tevra::spoc && model.param.svm_type != tevra::spoc_l2;
  k->resize(model.total_sv);
  for (int s = 0; s < model.total_sv; ++s) {
    const double value = tevra::kernel_value(x, model.SV[s], model.param);
    (*k)[s] = shifted ? value + 1 : value;
  }
}

void pair_sums(const Model& model, const std::vector<double>& k, double* out) {
  const std::vector<int> start = class_starts(model);
  for (int i = 0; i < model.nr_class; ++i) {
    for (int j = i + 1; j < model.nr_class; ++j) {
      double sum = 0;
      const double* row_j = model.coefficients[j - 1];
      for (int s = start[i]; s < start[i] + model.nr_sv[i]; ++s) sum += row_j[s] * k[s];
      const double* row_i = model.coefficients[i];
      for (int s = start[j]; s < start[j] + model.nr_sv[j]; ++s) sum += row_i[s] * k[s];
      *out++ = sum;
    }
  }
}

void single_problem_values(const Model& model, const std::vector<double>& k, double* dec) {
  const int nr_class = model.nr_class;
  const int rows = nr_class - 1;
  const std::vector<int> start = class_starts(model);
  for (int a = 0; a < nr_class; ++a) dec[a] = 0;
  for (int a = 0; a < nr_class; ++a) {
    for (int s = start[a]; s < start[a] + model.nr_sv[a]; ++s) {
      double coefficient_sum = rows > 0 ? model.coefficients[0][s] : 0;
      for (int r = 1; r < rows; ++r) coefficient_sum += model.coefficients[r][s];
      for (int b = 0; b < a; ++b) dec[b] = dec[b] - k[s] * model.coefficients[b][s];
      dec[a] = dec[a] + k[s] * coefficient_sum;
      for (int b = a + 1; b < nr_class; ++b) dec[b] = dec[b] - k[s] * model.coefficients[b - 1][s];
    }
  }
}

void crammer_singer_values(const Model& model, const std::vector<double>& k, double* dec) {
  for (int a = 0; a < model.nr_class; ++a) dec[a] = 0;
  for (int s = 0; s < model.total_sv; ++s)
    for (int a = 0; a < model.nr_class; ++a) dec[a] = dec[a] + k[s] * model.coefficients[a][s];
}

}  // namespace

void check_samples_fit(const Model& model, const Node_rows& samples) {
  if (model.param.kernel_type != tevra::precomputed) return;
  double largest_serial = 0;
  for (int s = 0; s < model.total_sv; ++s)
    if (model.SV[s][0].value > largest_serial) largest_serial = model.SV[s][0].value;
  const std::size_t needed = static_cast<std::size_t>(largest_serial) + 1;
  for (std::size_t i = 0; i < samples.row_count(); ++i)
    if (samples.row_length(i) < needed)
      throw std::invalid_argument(
          "precomputed kernel: each row needs the kernel values against the first " +
          std::to_string(needed - 1) + " training samples");
}

std::vector<double> predict_rows(const Model& model, const Node_rows& samples) {
  std::vector<double> values(samples.row_count());
  for (std::size_t i = 0; i < samples.row_count(); ++i)
    values[i] = tevra::predict_value(&model, samples.row(i));
  return values;
}

std::vector<double> decision_rows(const Model& model, const Node_rows& samples, int* width) {
  const int svm_type = model.param.svm_type;
  const int nr_class = model.nr_class;
  if (svm_type == tevra::epsilon_svr) {
    *width = 1;
    return predict_rows(model, samples);
  }
  *width = svm_type == tevra::c_svc ? nr_class * (nr_class - 1) / 2 : nr_class;
  std::vector<double> values(samples.row_count() * static_cast<std::size_t>(*width));
  std::vector<double> k;
  for (std::size_t i = 0; i < samples.row_count(); ++i) {
    kernel_row(model, samples.row(i), &k);
    double* out = values.data() + i * static_cast<std::size_t>(*width);
    if (svm_type == tevra::c_svc)
      pair_sums(model, k, out);
    else if (svm_type == tevra::kbb)
      single_problem_values(model, k, out);
    else
      crammer_singer_values(model, k, out);
  }
  return values;
}

}  // namespace tevra_python
