// Line reading and input-error report shared by both tools.
#ifndef TEVRA_TOOLS_COMMON_LINE_READER_H_
#define TEVRA_TOOLS_COMMON_LINE_READER_H_

#include <cstddef>
#include <cstdio>

namespace tevra {

// Returns the next whole line (with its newline, if the file has one) in
// line_buffer, or null at end of file and after a read error (std::ferror
// tells the two apart; a line cut short by an error is not returned). The
// buffer starts at 1024 bytes and doubles until a line fits; it lives until
// the process ends, or until release_line_buffer. Running out of memory ends
// the process through report_out_of_memory.
//
// A carriage return right before the line end is dropped, so files with
// CRLF line ends read exactly like files with LF line ends.
char* read_line(std::FILE* file);

// Characters placed into the buffer by the last read_line; larger than
// strlen(line) when the line holds a NUL byte.
extern std::size_t line_length;

// True when the last line returned by read_line holds a NUL byte, which
// would cut the line short for every string routine.
bool line_has_nul();

// Frees line_buffer; the next read_line allocates it again. For programs
// that read in a loop and must not hold the buffer in between.
void release_line_buffer();

// Prints "Wrong input format at line %d\n" to standard error and exits 1.
[[noreturn]] void report_input_error(int line);

// Prints "can't read input file %s\n" to standard error and exits 1.
[[noreturn]] void report_read_error(const char* file_name);

// Prints "Error: not enough memory\n" to standard error and exits 1.
[[noreturn]] void report_out_of_memory();

}  // namespace tevra

#endif  // TEVRA_TOOLS_COMMON_LINE_READER_H_
