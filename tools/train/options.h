// Command line of tevra-train: options into a Parameter, file names.
#ifndef TEVRA_TOOLS_TRAIN_OPTIONS_H_
#define TEVRA_TOOLS_TRAIN_OPTIONS_H_

#include "learn/tevra.h"

namespace tevra {

// Longest file name the tool accepts (the name buffers hold 1024 bytes).
constexpr int max_file_name_length = 1023;

// Everything the command line decides for one run.
struct Train_options {
  Parameter param;                                // defaults, then the options
  int cv_mode;                                    // 1 with -v: cross-validate
  int fold_count;                                 // n of -v n
  char training_set_file[max_file_name_length + 1];
  char model_file[max_file_name_length + 1];      // given, or derived from the
                                                  // training file name
};

// Prints the 28-line usage text to standard output.
void print_usage();

// Fills options from argv. Every error prints its message (and the usage
// text where the command line is at fault) and exits with status 1.
void parse_options(int argc, char** argv, Train_options* options);

}  // namespace tevra

#endif  // TEVRA_TOOLS_TRAIN_OPTIONS_H_
