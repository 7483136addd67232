// tevra-predict: predicts every line of a test set with a model file, writes
// one prediction per line and prints the accuracy or the regression errors.
//
// So that no run ends in silent harm, an output file that is the test file
// or the model file is refused before it is emptied; a test line that a
// precomputed model would read beyond or at the wrong position is refused
// like any malformed line; and a read error of the test file or a failure to
// write the output file ends the run with status 1 instead of reporting
// success.
#include <cstdio>
#include <cstdlib>
#include <new>

#include "learn/tevra.h"
#include "tools/common/line_reader.h"
#include "tools/common/regression_summary.h"
#include "tools/common/same_file.h"
#include "tools/predict/line_batch.h"
#include "tools/predict/required_entries.h"

namespace {

// Running sums over the predicted lines.
struct Totals {
  int total = 0;                // lines predicted
  int correct = 0;              // predictions equal to the target
  double error = 0;             // sum of squared differences
  tevra::Regression_sums sums;  // for the squared correlation
};

}  // namespace

int main(int argc, char** argv) try {
  using namespace tevra;
  if (argc != 4) {
    std::fprintf(stderr, "usage: tevra-predict test_file model_file output_file\n");
    return 1;
  }
  for (int k = 1; k <= 2; ++k) {
    if (is_same_file(argv[3], argv[k])) {
      std::fprintf(stderr, "Error: output file %s is the same file as %s file %s\n", argv[3],
                   k == 1 ? "test" : "model", argv[k]);
      return 1;
    }
  }
  std::FILE* input = std::fopen(argv[1], "r");
  if (input == nullptr) {
    std::fprintf(stderr, "can't open input file %s\n", argv[1]);
    return 1;
  }
  std::FILE* output = std::fopen(argv[3], "w");
  if (output == nullptr) {
    std::fprintf(stderr, "can't open output file %s\n", argv[3]);
    return 1;
  }
  Model* model = load_model_file(argv[2]);
  if (model == nullptr) {
    std::fprintf(stderr, "can't open model file %s\n", argv[2]);
    return 1;
  }

  const int svm_type = model->param.svm_type;
  const int required_entries = required_entry_count(*model);
  // Lines are predicted a batch at a time on every thread, and written and
  // summed in input order.
  Line_batch batch(*model, [model, required_entries](const Node* row, int entry_count) {
    return row_fits_model(*model, required_entries, row, entry_count);
  });
  Totals totals;
  int line_number = 0;
  for (int lines; (lines = batch.read(input)) > 0;) {
    batch.predict();
    for (int k = 0; k < lines; ++k) {
      ++line_number;
      if (!batch.well_formed(k)) {
        std::fflush(output);
        report_input_error(line_number);
      }
      std::fputs(batch.text(k), output);
      const double v = batch.prediction(k);
      const double y = batch.target(k);
      if (v == y) ++totals.correct;
      totals.error += (v - y) * (v - y);
      totals.sums.add(v, y);
      ++totals.total;
    }
  }
  if (std::ferror(input)) {
    std::fflush(output);
    report_read_error(argv[1]);
  }

  // Every prediction must be in the file before the run can report success.
  bool write_failed = std::fflush(output) != 0 || std::ferror(output) != 0;
  if (std::fclose(output) != 0) write_failed = true;
  if (write_failed) std::fprintf(stderr, "can't write output file %s\n", argv[3]);

  const double n = totals.total;
  if (write_failed) {
    // No summary for predictions that are not all in the file.
  } else if (svm_type == epsilon_svr) {
    std::printf("Mean squared error = %g (regression)\n", totals.error / n);
    std::printf("Squared correlation coefficient = %g (regression)\n",
                squared_correlation(totals.sums, n));
  } else {
    std::printf("Accuracy = %g%% (%d/%d) (classification)\n", totals.correct / n * 100,
                totals.correct, totals.total);
  }

  destroy_model(&model);
  std::fclose(input);
  return write_failed ? 1 : 0;
} catch (const std::bad_alloc&) {
  tevra::report_out_of_memory();
}
