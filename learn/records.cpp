// Name tables, defaults and release operations of the public records.
#include "learn/tevra.h"

#include <cstdlib>

#include "learn/sv_columns.h"

namespace tevra {

const char* const svm_type_names[] = {"c_svc", "kbb", "spoc", "epsilon_svr", "spoc_l2", nullptr};
const char* const kernel_type_names[] = {"linear", "polynomial", "rbf", "sigmoid", "precomputed",
                                         nullptr};

Parameter default_parameter() {
  Parameter param{};
  param.svm_type = c_svc;
  param.kernel_type = rbf;
  param.degree = 3;
  param.gamma = 0;
  param.coef0 = 0;
  param.cache_size = 100;
  param.eps = 1e-3;
  param.C = 1;
  param.weight_count = 0;
  param.weight_labels = nullptr;
  param.weights = nullptr;
  param.p = 0.1;
  param.shrinking = 1;
  param.qpsize = 10;
  param.Cbegin = 1;
  param.Cstep = 2;
  param.algorithm = 0;
  return param;
}

int coefficient_row_count(int svm_type, int nr_class) {
  switch (svm_type) {
    case epsilon_svr:
      return 1;
    case spoc:
    case spoc_l2:
      return nr_class;
    default:
      return nr_class - 1;
  }
}

void release_model_contents(Model* model) {
  if (model->owns_sv_nodes && model->total_sv > 0 && model->SV != nullptr) {
    std::free(model->SV[0]);
  }
  if (model->coefficients != nullptr) {
    const int rows = coefficient_row_count(model->param.svm_type, model->nr_class);
    for (int r = 0; r < rows; ++r) std::free(model->coefficients[r]);
  }
  std::free(model->SV);
  model->SV = nullptr;
  std::free(model->coefficients);
  model->coefficients = nullptr;
  std::free(model->label);
  model->label = nullptr;
  std::free(model->nr_sv);
  model->nr_sv = nullptr;
  delete model->sv_columns;
  model->sv_columns = nullptr;
}

void destroy_model(Model** model) {
  if (model == nullptr || *model == nullptr) return;
  release_model_contents(*model);
  std::free(*model);
  *model = nullptr;
}

void release_parameter(Parameter* param) {
  std::free(param->weight_labels);
  param->weight_labels = nullptr;
  std::free(param->weights);
  param->weights = nullptr;
}

}  // namespace tevra
