// Reads one whole line at a time into a buffer that only grows.
#include "tools/common/line_reader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tevra {

namespace {
char* line_buffer = nullptr;    // holds the last line read, NUL-terminated
std::size_t line_capacity = 0;  // bytes allocated for line_buffer
}  // namespace

std::size_t line_length = 0;

char* read_line(std::FILE* file) {
  if (line_buffer == nullptr) {
    line_buffer = static_cast<char*>(std::malloc(1024));
    if (line_buffer == nullptr) report_out_of_memory();
    line_capacity = 1024;
  }
  line_length = 0;
  // Character by character rather than fgets, so that a NUL byte inside a
  // line is kept and counted instead of hiding the rest of the line.
  int c;
  while ((c = getc_unlocked(file)) != EOF) {
    if (line_length + 1 >= line_capacity) {
      char* grown = line_capacity <= SIZE_MAX / 2
                        ? static_cast<char*>(std::realloc(line_buffer, line_capacity * 2))
                        : nullptr;
      if (grown == nullptr) report_out_of_memory();
      line_buffer = grown;
      line_capacity *= 2;
    }
    line_buffer[line_length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (line_length == 0 || std::ferror(file)) return nullptr;
  // CR LF and a CR at the very end of the file end a line like LF and EOF.
  if (line_buffer[line_length - 1] == '\n') {
    if (line_length >= 2 && line_buffer[line_length - 2] == '\r') {
      line_buffer[line_length - 2] = '\n';
      --line_length;
    }
  } else if (line_buffer[line_length - 1] == '\r') {
    --line_length;
  }
  line_buffer[line_length] = '\0';
  return line_buffer;
}

bool line_has_nul() {
  return line_buffer != nullptr && std::strlen(line_buffer) != line_length;
}

void release_line_buffer() {
  std::free(line_buffer);
  line_buffer = nullptr;
  line_capacity = 0;
  line_length = 0;
}

void report_input_error(int line) {
  std::fprintf(stderr, "Wrong input format at line %d\n", line);
  std::exit(1);
}

void report_read_error(const char* file_name) {
  std::fprintf(stderr, "can't read input file %s\n", file_name);
  std::exit(1);
}

void report_out_of_memory() {
  std::fputs("Error: not enough memory\n", stderr);
  std::exit(1);
}

}  // namespace tevra
