// tevra._core: the learning library for the tevra Python package.
#include <pybind11/pybind11.h>

#include <Python.h>

#include "python/src/bindings.h"
#include "python/src/errors.h"

namespace py = pybind11;

PYBIND11_MODULE(_core, module) {
  module.doc() = "tevra's learning library: data sets, training, models and model files";
  py::register_exception_translator([](std::exception_ptr pointer) {
    try {
      if (pointer) std::rethrow_exception(pointer);
    } catch (const tevra_python::File_error& error) {
      // OSError(errno, text, name) picks the subclass for the errno.
      const int number = error.error_number != 0 ? error.error_number : EIO;
      py::object exception = py::reinterpret_borrow<py::object>(PyExc_OSError)(
          number, std::strerror(number), error.path);
      PyErr_SetObject(PyExc_OSError, exception.ptr());
    } catch (const tevra_python::Out_of_memory& error) {
      PyErr_SetString(PyExc_MemoryError, error.what());
    }
  });
  tevra_python::bind_data(module);
  tevra_python::bind_model(module);
  tevra_python::bind_training(module);
}
