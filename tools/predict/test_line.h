// Parsing of one test-set line by the prediction tool.
#ifndef TEVRA_TOOLS_PREDICT_TEST_LINE_H_
#define TEVRA_TOOLS_PREDICT_TEST_LINE_H_

#include <cstddef>

#include "learn/tevra.h"

namespace tevra {

// The one growing array of Node entries that every test line is read into.
struct Sample_buffer {
  Node* nodes;   // malloc'ed; entries of the last line, then the terminator
  int capacity;  // entries the array has room for
};

// A buffer of 64 entries; released with release_sample_buffer.
Sample_buffer make_sample_buffer();
void release_sample_buffer(Sample_buffer* buffer);

// Reads the line of `length` characters (as read_line left it, newline
// included if any) into the buffer, ended by a terminator. On success stores
// the target in *target and the number of entries in *entry_count and
// returns true; returns false for a malformed line. The line is not changed.
bool parse_test_line(const char* line, std::size_t length, Sample_buffer* buffer, double* target,
                     int* entry_count);

}  // namespace tevra

#endif  // TEVRA_TOOLS_PREDICT_TEST_LINE_H_
