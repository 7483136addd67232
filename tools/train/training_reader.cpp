// Two-pass reader of the sparse training format: the first pass counts
// samples and nodes, the second parses every line into one node store.
//
// Lines are parsed by the same routine as the prediction tool's test lines
// (sample_line.h), which refuses what would silently corrupt a run. Beyond
// it this reader refuses class labels beyond the int range and precomputed
// kernel rows whose entries are not at positions 1, 2, ... (the kernel looks
// its values up by position).
#include "tools/train/training_reader.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/common/line_reader.h"
#include "tools/common/sample_line.h"

namespace tevra {

namespace {

[[noreturn]] void fail(const char* message) {
  std::fputs(message, stderr);
  std::exit(1);
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
  if (std::ferror(file)) report_read_error(file_name);
  // The second pass needs the file from its start again, which a pipe cannot give.
  if (std::fseek(file, 0, SEEK_SET) != 0) {
    std::fprintf(stderr, "can't read input file %s a second time: it must be a regular file, not a pipe\n",
                 file_name);
    std::exit(1);
  }

  problem->sample_count = static_cast<int>(sample_count);
  problem->labels = static_cast<double*>(std::malloc(sizeof(double) * sample_count));
  problem->samples = static_cast<Node**>(std::malloc(sizeof(Node*) * sample_count));
  Node* store = static_cast<Node*>(std::malloc(sizeof(Node) * node_count));
  *node_store = store;
  // An empty file needs no arrays, and malloc(0) may give none.
  if (sample_count > 0 && (problem->labels == nullptr || problem->samples == nullptr || store == nullptr))
    report_out_of_memory();

  const bool integer_label = param->svm_type != epsilon_svr;
  // Every line is parsed here first, then copied into the store.
  Sample_buffer sample = make_sample_buffer();
  int max_index = 0;
  long next = 0;
  for (int i = 0; i < problem->sample_count; ++i) {
    line = read_line(file);
    if (line == nullptr && std::ferror(file)) report_read_error(file_name);
    // The file changed after counting: never write past the store.
    if (line == nullptr || next >= node_count) report_input_error(i + 1);
    int entry_count;
    if (!parse_sample_line(line, line_length, &sample, &problem->labels[i], &entry_count))
      report_input_error(i + 1);
    if (integer_label && !fits_int_after_truncation(problem->labels[i])) report_input_error(i + 1);
    // The counting pass sized the store; leave room for the terminator.
    if (entry_count > node_count - next - 1) report_input_error(i + 1);
    problem->samples[i] = store + next;
    std::memcpy(store + next, sample.nodes, sizeof(Node) * entry_count);
    next += entry_count;
    if (entry_count > 0 && sample.nodes[entry_count - 1].index > max_index)
      max_index = sample.nodes[entry_count - 1].index;
    store[next].index = -1;
    store[next].value = 0;
    ++next;
  }
  release_sample_buffer(&sample);
  problem->max_index = max_index;

  if (param->gamma == 0 && max_index > 0) param->gamma = 1.0 / max_index;
  if (param->kernel_type == precomputed) check_precomputed_rows(*problem);
  std::fclose(file);
}

}  // namespace tevra
