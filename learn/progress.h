// Progress output of one training run.
#ifndef TEVRA_LEARN_PROGRESS_H_
#define TEVRA_LEARN_PROGRESS_H_

#include "learn/tevra.h"

namespace tevra {

// Where a run's progress texts go: print(text, context), or print_hook when
// print is null.
struct Progress {
  Print_function print;
  void* context;

  // Hands one finished text on.
  void write(const char* text) const { (print != nullptr ? print : print_hook)(text, context); }
};

// Formats into a 512-byte buffer (longer texts are cut at 511 characters)
// and hands the buffer to progress.
void log_info(const Progress& progress, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace tevra

#endif  // TEVRA_LEARN_PROGRESS_H_
