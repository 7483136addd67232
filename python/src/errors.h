// Failures that become Python exceptions other than the ValueError
// (std::invalid_argument) and RuntimeError (std::runtime_error) that
// pybind11 makes of the standard ones.
#ifndef TEVRA_PYTHON_SRC_ERRORS_H_
#define TEVRA_PYTHON_SRC_ERRORS_H_

#include <cstring>
#include <stdexcept>
#include <string>

namespace tevra_python {

// A file that could not be opened, read or written: OSError
// (FileNotFoundError, PermissionError, ...) with the errno and the name.
struct File_error : std::runtime_error {
  File_error(int error_number, const std::string& path)
      : std::runtime_error(path + ": " + std::strerror(error_number)),
        error_number(error_number),
        path(path) {}
  int error_number;
  std::string path;
};

// Training that ran out of memory: MemoryError with the library's message.
struct Out_of_memory : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace tevra_python

#endif  // TEVRA_PYTHON_SRC_ERRORS_H_
