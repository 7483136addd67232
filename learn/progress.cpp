#include "learn/progress.h"

#include <cstdarg>
#include <cstdio>

namespace tevra {

void print_to_stdout(const char* text, void*) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

Print_function print_hook = print_to_stdout;

void log_info(const Progress& progress, const char* format, ...) {
  // vsnprintf always terminates within the buffer, so an over-long text is
  // cut safely rather than overflowing.
  char buffer[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  progress.write(buffer);
}

}  // namespace tevra
