// A file that could not be opened, read or written; becomes Python's OSError
// (FileNotFoundError, PermissionError, ...) with the errno and the name.
#ifndef TEVRA_PYTHON_SRC_FILE_ERROR_H_
#define TEVRA_PYTHON_SRC_FILE_ERROR_H_

#include <cstring>
#include <stdexcept>
#include <string>

namespace tevra_python {

struct File_error : std::runtime_error {
  File_error(int error_number, const std::string& path)
      : std::runtime_error(path + ": " + std::strerror(error_number)),
        error_number(error_number),
        path(path) {}
  int error_number;
  std::string path;
};

}  // namespace tevra_python

#endif  // TEVRA_PYTHON_SRC_FILE_ERROR_H_
