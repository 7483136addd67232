// Two-pass reader of the sparse training format: the first pass counts
// samples and nodes, the second parses every line into one node store.
//
// Beyond the plain format rules it refuses what would silently corrupt a
// run: values and labels that are not finite, class labels beyond the int
// range, indices beyond the int range, lines holding a NUL byte, an index
// whose value is missing ("3:" at the end of a line), and precomputed kernel
// rows whose entries are not at positions 1, 2, ... (the kernel looks its
// values up by position).
#include "tools/train/training_reader.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/common/line_reader.h"

namespace tevra {

namespace {

[[noreturn]] void fail(const char* message) {
  std::fputs(message, stderr);
  std::exit(1);
}

// Real number filling the whole token; false when the token is not one.
bool read_label(const char* token, double* label) {
  char* end;
  errno = 0;
  *label = std::strtod(token, &end);
  return end != token && *end == '\0' && errno != ERANGE && std::isfinite(*label);
}

// Whether a class label survives truncation to int.
bool fits_int_after_truncation(double label) {
  return label > -2147483649.0 && label < 2147483648.0;
}

// Counts one line's nodes, terminator included: every blank-separated token
// after the label, up to one that starts with a newline.
long count_nodes(char* line) {
  long count = 1;
  if (std::strtok(line, " \t") == nullptr) return count;
  for (;;) {
    const char* token = std::strtok(nullptr, " \t");
    if (token == nullptr || *token == '\n') break;
    ++count;
  }
  return count;
}

// Parses the line of sample number line_number (1-based) into nodes
// starting at nodes; returns the line's last index (-1 when it
// has no entry). `room` is the number of nodes left for this line's entries.
int parse_sample(char* line, int line_number, bool integer_label, double* label,
                 Node* nodes, long room, long* stored) {
  char* const line_end = line + line_length;
  if (line_has_nul()) report_input_error(line_number);

  char* label_token = std::strtok(line, " \t\n");
  if (label_token == nullptr) report_input_error(line_number);
  if (!read_label(label_token, label)) report_input_error(line_number);
  if (integer_label && !fits_int_after_truncation(*label)) report_input_error(line_number);

  // Scan position: just after the separator that ended the previous token.
  char* position = label_token + std::strlen(label_token);
  if (position < line_end) ++position;

  int last_index = -1;
  long count = 0;
  for (;;) {
    // The index text runs to the next colon; without one, the rest of the
    // line is a last word that is ignored.
    char* const colon = static_cast<char*>(std::memchr(position, ':', line_end - position));
    if (colon == nullptr) break;
    char* const index_token = position;
    *colon = '\0';
    // The value text: the next blank-separated token after the colon. A
    // colon with nothing after it ("3:" ending the line) is an incomplete
    // entry.
    char* value_token = colon + 1;
    while (value_token < line_end && (*value_token == ' ' || *value_token == '\t')) ++value_token;
    if (value_token == line_end) report_input_error(line_number);
    char* value_end = value_token;
    while (value_end < line_end && *value_end != ' ' && *value_end != '\t') ++value_end;
    *value_end = '\0';
    position = value_end < line_end ? value_end + 1 : line_end;

    char* end;
    errno = 0;
    const long index = std::strtol(index_token, &end, 10);
    if (end == index_token || errno == ERANGE || *end != '\0' || index <= last_index ||
        index > INT_MAX)
      report_input_error(line_number);
    last_index = static_cast<int>(index);

    errno = 0;
    const double value = std::strtod(value_token, &end);
    if (end == value_token || errno == ERANGE ||
        (*end != '\0' && !std::isspace(static_cast<unsigned char>(*end))) ||
        !std::isfinite(value))
      report_input_error(line_number);

    // The counting pass sized the store; a file changed in between must
    // not make the parse write past it.
    if (count >= room) report_input_error(line_number);
    nodes[count].index = last_index;
    nodes[count].value = value;
    ++count;
  }
  *stored = count;
  return last_index;
}

// Entries of a precomputed row must sit at positions 0, 1, 2, ... and reach
// at least the largest serial number, since the kernel reads the value
// against sample k at position k of the row.
void check_precomputed_rows(const Problem& problem) {
  int largest_serial = 0;
  for (int i = 0; i < problem.sample_count; ++i) {
    const Node* row = problem.samples[i];
    if (row[0].index != 0)
      fail("Wrong input format: first column must be 0:sample_serial_number\n");
    // Compared before any conversion to int, which a huge value would overflow.
    const double serial = std::trunc(row[0].value);
    if (serial < 1 || serial > problem.max_index)
      fail("Wrong input format: sample_serial_number out of range\n");
    if (serial > largest_serial) largest_serial = static_cast<int>(serial);
  }
  for (int i = 0; i < problem.sample_count; ++i) {
    const Node* row = problem.samples[i];
    int k = 0;
    while (row[k].index != -1 && row[k].index == k) ++k;
    if (row[k].index != -1 || k <= largest_serial) {
      std::fprintf(stderr,
                   "Wrong input format at line %d: precomputed kernel values must be at indices 1, "
                   "2, ... up to %d without gaps\n",
                   i + 1, largest_serial);
      std::exit(1);
    }
  }
}

}  // namespace

void read_training_set(const char* file_name, Parameter* param, Problem* problem,
                       Node** node_store) {
  std::FILE* file = std::fopen(file_name, "r");
  if (file == nullptr) {
    std::fprintf(stderr, "can't open input file %s\n", file_name);
    std::exit(1);
  }

  long sample_count = 0;
  long node_count = 0;
  char* line;
  while ((line = read_line(file)) != nullptr) {
    node_count += count_nodes(line);
    ++sample_count;
    if (sample_count > INT_MAX) fail("Error: the training set has more than 2147483647 lines\n");
  }
  std::rewind(file);

  problem->sample_count = static_cast<int>(sample_count);
  problem->labels = static_cast<double*>(std::malloc(sizeof(double) * sample_count));
  problem->samples = static_cast<Node**>(std::malloc(sizeof(Node*) * sample_count));
  Node* store = static_cast<Node*>(std::malloc(sizeof(Node) * node_count));
  *node_store = store;

  const bool integer_label = param->svm_type != epsilon_svr;
  int max_index = 0;
  long next = 0;
  for (int i = 0; i < problem->sample_count; ++i) {
    line = read_line(file);
    // The file changed after counting: never write past the store.
    if (line == nullptr || next >= node_count) report_input_error(i + 1);
    problem->samples[i] = store + next;
    long stored = 0;
    // Leave room for the terminator.
    const int last_index = parse_sample(line, i + 1, integer_label, &problem->labels[i],
                                        store + next, node_count - next - 1, &stored);
    next += stored;
    if (last_index > max_index) max_index = last_index;
    store[next].index = -1;
    store[next].value = 0;
    ++next;
  }
  problem->max_index = max_index;

  if (param->gamma == 0 && max_index > 0) param->gamma = 1.0 / max_index;
  if (param->kernel_type == precomputed) check_precomputed_rows(*problem);
  std::fclose(file);
}

}  // namespace tevra
