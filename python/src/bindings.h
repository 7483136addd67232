// Registration of the module's classes and functions, one file per concern.
#ifndef TEVRA_PYTHON_SRC_BINDINGS_H_
#define TEVRA_PYTHON_SRC_BINDINGS_H_

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>

#include "python/src/node_rows.h"

namespace tevra_python {

using Double_array = pybind11::array_t<double, pybind11::array::c_style | pybind11::array::forcecast>;
using Index_array =
    pybind11::array_t<std::int64_t, pybind11::array::c_style | pybind11::array::forcecast>;

// Samples, Dataset.
void bind_data(pybind11::module_& module);
// Model: contents, prediction, model files, pickling.
void bind_model(pybind11::module_& module);
// train, cross_validate.
void bind_training(pybind11::module_& module);

// Rows from numpy data, with the GIL held (the arrays are read).
Node_rows dense_rows(const Double_array& matrix);
Node_rows csr_rows(const Index_array& indptr, const Index_array& indices, const Double_array& data,
                   std::int64_t cols);
Node_rows kernel_rows(const Double_array& matrix);

// Rows as CSR arrays (indptr, indices, values) of their nodes, feature
// indices as they are, terminators left out; and back.
pybind11::tuple node_csr(const Node* const* rows, std::size_t count);
Node_rows rows_from_node_csr(const pybind11::tuple& arrays);

// A copy of a vector as a new numpy array.
template <typename T>
pybind11::array_t<T> to_numpy(const T* values, std::size_t count) {
  pybind11::array_t<T> array(static_cast<pybind11::ssize_t>(count));
  std::copy(values, values + count, array.mutable_data());
  return array;
}

}  // namespace tevra_python

#endif  // TEVRA_PYTHON_SRC_BINDINGS_H_
