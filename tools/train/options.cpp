// Option parsing of tevra-train. Values are read like atoi/atof (leading
// white space, sign, digits; 0 when nothing converts; trailing text
// ignored), except that an integer beyond the int range saturates instead of
// being undefined.
#include "tools/train/options.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/common/line_reader.h"

namespace tevra {

namespace {

const char* const usage_text =
    "Usage: tevra-train [options] training_set_file [model_file]\n"
    "options:\n"
    "-s svm_type : set type of SVM (default 0)\n"
    "\t0 -- multi-class bound-constrained support vector classification (SVC)\n"
    "\t1 -- multi-class SVC using a single bound-constrained problem\n"
    "\t2 -- L1-loss multi-class SVC from Crammer and Singer\n"
    "\t3 -- bound-constrained support vector regression\n"
    "\t4 -- L2-loss multi-class SVC extended from Crammer and Singer\n"
    "-t kernel_type : set type of kernel function (default 2)\n"
    "\t0 -- linear: u'*v\n"
    "\t1 -- polynomial: (gamma*u'*v + coef0)^degree\n"
    "\t2 -- radial basis function: exp(-gamma*|u-v|^2)\n"
    "\t3 -- sigmoid: tanh(gamma*u'*v + coef0)\n"
    "\t4 -- precomputed kernel (kernel values in training_set_file)\n"
    "-d degree : set degree in kernel function (default 3)\n"
    "-g gamma : set gamma in kernel function (default 1/k)\n"
    "-r coef0 : set coef0 in kernel function (default 0)\n"
    "-c cost : set the parameter C of support vector machine (default 1)\n"
    "-p epsilon : set the epsilon in loss function of support vector regression (default 0.1)\n"
    "-m cachesize : set cache memory size in MB (default 100) (useless for -t 0)\n"
    "-e epsilon : set tolerance of termination criterion (default 0.001)\n"
    "-h shrinking : whether to use the shrinking heuristics, 0 or 1 (default 1)\n"
    "-b cost0 : set the beginning cost value of alpha seeding for -t 0 -s 0 and 3 (default 1)\n"
    "-i step : set the step value of alpha seeding for -t 0 -s 0 and 3 (default 2)\n"
    "\t\tcost0, cost0*step, cost0*step^2, ..., cost.\n"
    "-q qpsize : set the sub-problem size for -s 0,1 and 3\n"
    "-a algorithm : set the solver (default 0)\n"
    "\t0 -- decomposition\n"
    "\t1 -- dual coordinate descent, for -t 0 with -s 0, 2, 3 and 4; it stops, as 0 does,\n"
    "\t\twhen no optimality condition is violated by epsilon (-e) or more\n"
    "-wi weight: set the parameter C of class i to weight*C, for classification problem (default 1)\n"
    "-v n: n-fold cross validation mode\n";

[[noreturn]] void exit_with_usage() {
  print_usage();
  std::exit(1);
}

// atoi without its undefined overflow: out-of-range values saturate.
int integer_value(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

double real_value(const char* text) { return std::strtod(text, nullptr); }

// Copies name into a name buffer, or refuses a name that does not fit.
void store_file_name(char* buffer, const char* what, const char* name,
                     const char* suffix) {
  if (std::strlen(name) + std::strlen(suffix) > static_cast<size_t>(max_file_name_length)) {
    std::fprintf(stderr, "Error: %s name is longer than %d characters\n", what,
                 max_file_name_length);
    std::exit(1);
  }
  std::snprintf(buffer, max_file_name_length + 1, "%s%s", name, suffix);
}

void append_weight(Parameter* param, int label, double weight) {
  const int count = param->weight_count + 1;
  int* labels = static_cast<int*>(std::realloc(param->weight_labels, sizeof(int) * count));
  if (labels == nullptr) report_out_of_memory();
  param->weight_labels = labels;
  double* weights = static_cast<double*>(std::realloc(param->weights, sizeof(double) * count));
  if (weights == nullptr) report_out_of_memory();
  param->weights = weights;
  param->weight_labels[count - 1] = label;
  param->weights[count - 1] = weight;
  param->weight_count = count;
}

}  // namespace

void print_usage() { std::fputs(usage_text, stdout); }

void parse_options(int argc, char** argv, Train_options* options) {
  options->param = default_parameter();
  options->cv_mode = 0;
  options->fold_count = 0;
  options->training_set_file[0] = '\0';
  options->model_file[0] = '\0';
  Parameter* param = &options->param;

  int i = 1;
  for (; i < argc; i += 2) {
    const char* option = argv[i];
    if (option[0] != '-') break;
    if (i + 1 >= argc) exit_with_usage();  // option without its value
    const char* value = argv[i + 1];
    switch (option[1]) {
      case 's': param->svm_type = integer_value(value); break;
      case 't': param->kernel_type = integer_value(value); break;
      case 'd': param->degree = integer_value(value); break;
      case 'g': param->gamma = real_value(value); break;
      case 'r': param->coef0 = real_value(value); break;
      case 'c': param->C = real_value(value); break;
      case 'p': param->p = real_value(value); break;
      case 'm': param->cache_size = real_value(value); break;
      case 'e': param->eps = real_value(value); break;
      case 'h': param->shrinking = integer_value(value); break;
      case 'b': param->Cbegin = real_value(value); break;
      case 'i': param->Cstep = real_value(value); break;
      case 'q': param->qpsize = integer_value(value); break;
      case 'a': param->algorithm = integer_value(value); break;
      case 'w': append_weight(param, integer_value(option + 2), real_value(value)); break;
      case 'v':
        options->cv_mode = 1;
        options->fold_count = integer_value(value);
        if (options->fold_count < 2) {
          std::fputs("n-fold cross validation: n must >= 2\n", stderr);
          exit_with_usage();
        }
        break;
      default:
        std::fputs("unknown option\n", stderr);
        exit_with_usage();
    }
  }

  if (i >= argc) exit_with_usage();  // no training file name
  store_file_name(options->training_set_file, "training_set_file", argv[i], "");
  if (i + 1 < argc) {
    store_file_name(options->model_file, "model_file", argv[i + 1], "");
  } else {
    // The model goes to the current directory, named after the training file.
    const char* slash = std::strrchr(argv[i], '/');
    const char* base = slash != nullptr ? slash + 1 : argv[i];
    store_file_name(options->model_file, "model_file (training_set_file name with .model)", base,
                    ".model");
  }
}

}  // namespace tevra
