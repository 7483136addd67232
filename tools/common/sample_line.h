// Parsing of one line of the sparse data format, shared by both tools so
// that a line the training tool refuses is refused by the prediction tool
// too, and the other way round.
#ifndef TEVRA_TOOLS_COMMON_SAMPLE_LINE_H_
#define TEVRA_TOOLS_COMMON_SAMPLE_LINE_H_

#include <cstddef>

#include "learn/tevra.h"

namespace tevra {

// A growing array of Node entries that one line after another is read into.
struct Sample_buffer {
  Node* nodes;   // malloc'ed; entries of the last line, then the terminator
  int capacity;  // entries the array has room for
};

// A buffer of 64 entries; released with release_sample_buffer.
Sample_buffer make_sample_buffer();
void release_sample_buffer(Sample_buffer* buffer);

// Reads the line of `length` characters (as read_line left it, newline
// included if any) into the buffer, ended by a terminator; the buffer
// doubles whenever the entries and the terminator would not fit. On success
// stores the label in *label and the number of entries in *entry_count and
// returns true; returns false for a malformed line. The line is not changed.
//
// A line is malformed when it holds a NUL byte, has no label, when the label
// or a value is not a finite number or converts out of range, when an index
// text is empty, is not a whole base-10 int or does not increase strictly
// from 0 up, or when an index has no value after its colon. A carriage
// return right before the line end is white space. A last word without a
// colon ends the entries and is ignored.
bool parse_sample_line(const char* line, std::size_t length, Sample_buffer* buffer, double* label,
                       int* entry_count);

}  // namespace tevra

#endif  // TEVRA_TOOLS_COMMON_SAMPLE_LINE_H_
