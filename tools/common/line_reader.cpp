#include "tools/common/line_reader.h"

#include <cstdlib>
#include <cstring>

namespace tevra {

namespace {
char* line_buffer = nullptr;
std::size_t line_capacity = 0;
}  // namespace

std::size_t line_length = 0;

char* read_line(std::FILE* file) {
  if (line_buffer == nullptr) {
    line_capacity = 1024;
    line_buffer = static_cast<char*>(std::malloc(line_capacity));
  }
  line_length = 0;
  // getc-based so that a NUL byte inside a line is kept and counted.
  int c;
  while ((c = std::getc(file)) != EOF) {
    if (line_length + 1 >= line_capacity) {
      line_capacity *= 2;
      line_buffer = static_cast<char*>(std::realloc(line_buffer, line_capacity));
    }
    line_buffer[line_length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (line_length == 0) return nullptr;
  line_buffer[line_length] = '\0';
  return line_buffer;
}

void report_input_error(int line) {
  std::fprintf(stderr, "Wrong input format at line %d\n", line);
  std::exit(1);
}

}  // namespace tevra
