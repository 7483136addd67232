#include "python/src/parameters.h"

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace tevra_python {

namespace {

void set_weights(tevra::Parameter* param, const py::handle& pairs) {
  std::vector<std::pair<int, double>> entries;
  for (const py::handle& pair : pairs) {
    const auto entry = pair.cast<py::sequence>();
    if (entry.size() != 2) throw std::invalid_argument("weights: expected (label, factor) pairs");
    entries.emplace_back(entry[0].cast<int>(), entry[1].cast<double>());
  }
  tevra::release_parameter(param);  // a repeated key replaces the entries
  const std::size_t room = entries.empty() ? 1 : entries.size();
  param->weight_labels = static_cast<int*>(std::malloc(sizeof(int) * room));
  param->weights = static_cast<double*>(std::malloc(sizeof(double) * room));
  if (param->weight_labels == nullptr || param->weights == nullptr) throw std::bad_alloc();
  param->weight_count = static_cast<int>(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    param->weight_labels[i] = entries[i].first;
    param->weights[i] = entries[i].second;
  }
}

void apply(const py::dict& values, tevra::Parameter* p) {
  for (const auto& item : values) {
    const std::string key = item.first.cast<std::string>();
    const py::handle value = item.second;
    if (key == "svm_type") p->svm_type = value.cast<int>();
    else if (key == "kernel_type") p->kernel_type = value.cast<int>();
    else if (key == "degree") p->degree = value.cast<int>();
    else if (key == "gamma") p->gamma = value.cast<double>();
    else if (key == "coef0") p->coef0 = value.cast<double>();
    else if (key == "cache_size") p->cache_size = value.cast<double>();
    else if (key == "eps") p->eps = value.cast<double>();
    else if (key == "C") p->C = value.cast<double>();
    else if (key == "p") p->p = value.cast<double>();
    else if (key == "shrinking") p->shrinking = value.cast<int>();
    else if (key == "qpsize") p->qpsize = value.cast<int>();
    else if (key == "algorithm") p->algorithm = value.cast<int>();
    else if (key == "Cbegin") p->Cbegin = value.cast<double>();
    else if (key == "Cstep") p->Cstep = value.cast<double>();
    else if (key == "weights") set_weights(p, value);
    else throw std::invalid_argument("unknown training parameter '" + key + "'");
  }
}

}  // namespace

Owned_parameter::Owned_parameter(const py::dict& values) : param_(tevra::default_parameter()) {
  // The destructor does not run when the constructor throws.
  try {
    apply(values, &param_);
  } catch (...) {
    tevra::release_parameter(&param_);
    throw;
  }
}

}  // namespace tevra_python
