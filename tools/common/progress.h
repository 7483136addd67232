// Progress output through which the whole learning library prints.
#ifndef TEVRA_TOOLS_COMMON_PROGRESS_H_
#define TEVRA_TOOLS_COMMON_PROGRESS_H_

namespace tevra {

// Process-wide output function for progress texts; starts at print_to_stdout.
extern void (*print_hook)(const char* text);

// Writes the text unchanged to standard output and flushes it.
void print_to_stdout(const char* text);

// Formats into a 512-byte buffer (longer texts are cut at 511 characters)
// and hands the buffer to print_hook.
void log_info(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tevra

#endif  // TEVRA_TOOLS_COMMON_PROGRESS_H_
