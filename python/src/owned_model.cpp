#include "python/src/owned_model.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace tevra_python {

namespace {

// malloc that never asks for 0 bytes and throws when memory runs out; the
// library releases model arrays with free.
template <typename T>
T* allocate(std::size_t count) {
  T* block = static_cast<T*>(std::malloc(sizeof(T) * (count > 0 ? count : 1)));
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

bool is_classification(int svm_type) { return svm_type != tevra::epsilon_svr; }

[[noreturn]] void inconsistent(const char* what) {
  throw std::invalid_argument(std::string("inconsistent model: ") + what);
}

}  // namespace

Model_contents contents_of(const tevra::Model& model) {
  Model_contents contents;
  const tevra::Parameter& param = model.param;
  contents.svm_type = param.svm_type;
  contents.kernel_type = param.kernel_type;
  contents.degree = param.degree;
  contents.gamma = param.gamma;
  contents.coef0 = param.coef0;
  contents.nr_class = model.nr_class;
  contents.has_labels = model.label != nullptr;
  if (model.label != nullptr) contents.label.assign(model.label, model.label + model.nr_class);
  if (model.nr_sv != nullptr) contents.nr_sv.assign(model.nr_sv, model.nr_sv + model.nr_class);
  const int rows = tevra::coefficient_row_count(param.svm_type, model.nr_class);
  const int total_sv = model.total_sv;
  contents.coefficients.resize(static_cast<std::size_t>(rows > 0 ? rows : 0) * total_sv);
  for (int r = 0; r < rows; ++r)
    std::memcpy(contents.coefficients.data() + static_cast<std::size_t>(r) * total_sv,
                model.coefficients[r], sizeof(double) * total_sv);
  Node_rows& vectors = contents.support_vectors;
  for (int s = 0; s < total_sv; ++s) {
    vectors.begin_row();
    for (const Node* x = model.SV[s]; x->index != -1; ++x) {
      vectors.add(x->index, x->value);
      if (param.kernel_type == tevra::precomputed) break;
    }
    vectors.end_row();
  }
  return contents;
}

Model_ptr make_model(const Model_contents& contents) {
  const int total_sv = contents.total_sv();
  const int nr_class = contents.nr_class;
  if (contents.svm_type < 0 || contents.svm_type > 4) inconsistent("unknown svm_type");
  if (nr_class < 0) inconsistent("negative class count");
  const int rows = tevra::coefficient_row_count(contents.svm_type, nr_class);
  if (rows < 0 || contents.coefficients.size() != static_cast<std::size_t>(rows) * total_sv)
    inconsistent("coefficient count");
  if (contents.has_labels != is_classification(contents.svm_type)) inconsistent("class labels");
  if (contents.has_labels && (contents.label.size() != static_cast<std::size_t>(nr_class) ||
                              contents.nr_sv.size() != static_cast<std::size_t>(nr_class)))
    inconsistent("class arrays");

  Model_ptr model(static_cast<tevra::Model*>(std::calloc(1, sizeof(tevra::Model))));
  if (!model) throw std::bad_alloc();
  tevra::Model& m = *model;
  m.param = tevra::default_parameter();
  m.param.svm_type = contents.svm_type;
  m.param.kernel_type = contents.kernel_type;
  m.param.degree = contents.degree;
  m.param.gamma = contents.gamma;
  m.param.coef0 = contents.coef0;
  m.nr_class = nr_class;
  // Every array is in place and consistent before total_sv is set, so the
  // deleter releases exactly what exists on any early exit.
  m.coefficients = allocate<double*>(rows);
  std::memset(m.coefficients, 0, sizeof(double*) * (rows > 0 ? rows : 1));
  for (int r = 0; r < rows; ++r) {
    m.coefficients[r] = allocate<double>(total_sv);
    std::memcpy(m.coefficients[r], contents.coefficients.data() + static_cast<std::size_t>(r) * total_sv,
                sizeof(double) * total_sv);
  }
  if (contents.has_labels) {
    m.label = allocate<int>(nr_class);
    m.nr_sv = allocate<int>(nr_class);
    std::memcpy(m.label, contents.label.data(), sizeof(int) * nr_class);
    std::memcpy(m.nr_sv, contents.nr_sv.data(), sizeof(int) * nr_class);
  }
  const Node_rows& vectors = contents.support_vectors;
  m.SV = allocate<Node*>(total_sv);
  m.owns_sv_nodes = 1;
  if (total_sv > 0) {
    Node* block = allocate<Node>(vectors.store.size());
    std::memcpy(block, vectors.store.data(), sizeof(Node) * vectors.store.size());
    for (int s = 0; s < total_sv; ++s) m.SV[s] = block + vectors.starts[s];
    m.total_sv = total_sv;
  }
  check_model(m);
  return model;
}

void check_model(const tevra::Model& model) {
  const int svm_type = model.param.svm_type;
  if (svm_type < 0 || svm_type > 4) inconsistent("unknown svm_type");
  if (model.param.kernel_type < 0 || model.param.kernel_type > 4)
    inconsistent("unknown kernel_type");
  if (model.total_sv < 0 || model.nr_class < 0) inconsistent("negative count");
  if (model.total_sv > 0 && model.SV == nullptr) inconsistent("support vectors missing");
  if (is_classification(svm_type)) {
    if (model.nr_class > 0 && (model.label == nullptr || model.nr_sv == nullptr))
      inconsistent("class labels missing");
    long long sum = 0;
    for (int k = 0; k < model.nr_class; ++k) {
      if (model.nr_sv[k] < 0) inconsistent("negative support-vector count");
      sum += model.nr_sv[k];
    }
    if (model.nr_class > 0 && sum != model.total_sv)
      inconsistent("support-vector counts do not add up to total_sv");
  }
  const int rows = tevra::coefficient_row_count(svm_type, model.nr_class);
  if (rows > 0 && model.total_sv > 0 && model.coefficients == nullptr)
    inconsistent("coefficients missing");
  for (int r = 0; r < rows && model.total_sv > 0; ++r)
    for (int s = 0; s < model.total_sv; ++s)
      if (!std::isfinite(model.coefficients[r][s])) inconsistent("coefficient is not finite");
  if (model.param.kernel_type == tevra::precomputed)
    for (int s = 0; s < model.total_sv; ++s)
      if (model.SV[s][0].index != 0 || !(model.SV[s][0].value >= 1) ||
          !(model.SV[s][0].value < 2147483648.0))
        inconsistent("precomputed support vector without a serial number");
}

}  // namespace tevra_python
