// Training parameters handed over from Python as a dict.
#ifndef TEVRA_PYTHON_SRC_PARAMETERS_H_
#define TEVRA_PYTHON_SRC_PARAMETERS_H_

#include <pybind11/pybind11.h>

#include "learn/tevra.h"

namespace tevra_python {

// A Parameter that owns its weight arrays.
class Owned_parameter {
 public:
  // tevra-train's defaults, then every key of the dict: the Parameter's
  // field names (svm_type, kernel_type, degree, gamma, coef0, cache_size,
  // eps, C, p, shrinking, qpsize, Cbegin, Cstep) and "weights", a sequence
  // of (label, factor) pairs. An unknown key raises ValueError.
  explicit Owned_parameter(const pybind11::dict& values);
  ~Owned_parameter() { tevra::release_parameter(&param_); }
  Owned_parameter(const Owned_parameter&) = delete;
  Owned_parameter& operator=(const Owned_parameter&) = delete;

  tevra::Parameter& get() { return param_; }

 private:
  tevra::Parameter param_;
};

}  // namespace tevra_python

#endif  // TEVRA_PYTHON_SRC_PARAMETERS_H_
