#include "tools/common/progress.h"

#include <cstdarg>
#include <cstdio>

namespace tevra {

void (*print_hook)(const char* text) = print_to_stdout;

void print_to_stdout(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void log_info(const char* format, ...) {
  // vsnprintf always terminates within the buffer, so an over-long text is
  // cut safely rather than overflowing.
  char buffer[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  print_hook(buffer);
}

}  // namespace tevra
