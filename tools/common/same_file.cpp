#include "tools/common/same_file.h"

#include <sys/stat.h>

namespace tevra {

bool is_same_file(const char* output, const char* input) {
  struct stat out, in;
  return stat(output, &out) == 0 && S_ISREG(out.st_mode) && stat(input, &in) == 0 &&
         out.st_dev == in.st_dev && out.st_ino == in.st_ino;
}

}  // namespace tevra
