// mavrel: conditional entropy, in bits, of the row variable of a joint
// probability table given its column variable.
//
//   mutual_info = mavrel(jointprob_table, marginprob_2)
//
// marginprob_2 is the marginal of the column variable, one entry per column
// of the table. The result is -sum P(k, j) log2(P(k, j) / marginprob_2(j)).

#include "mex.h"

#include <cmath>
#include <cstddef>

namespace {

const double ln2 = 0.6931471805599453;

const char* const usage_text =
    "Usage [mutual_info] = progname(jointprob_table, marginprob_2). The last two inputs are "
    "optional.";

// Other classes and sparse arrays do not hold rows x columns doubles.
bool is_full_real_double(const mxArray* arg) {
  return mxIsDouble(arg) && !mxIsComplex(arg) && !mxIsSparse(arg);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs != 1 && nrhs != 2) mexErrMsgTxt(usage_text);
  if (nlhs > 1) mexErrMsgTxt("Too many output argument <mutual_info>.");
  // The column marginal cannot be done without.
  if (nrhs < 2) mexErrMsgTxt(usage_text);
  if (!is_full_real_double(prhs[0]))
    mexErrMsgTxt("The first input argument must be a full real DOUBLE array.");
  if (!is_full_real_double(prhs[1]))
    mexErrMsgTxt("The second input argument must be a full real DOUBLE array.");

  const double* joint = mxGetPr(prhs[0]);
  std::size_t rows = mxGetM(prhs[0]);
  std::size_t cols = mxGetN(prhs[0]);
  const double* col_marginal = mxGetPr(prhs[1]);
  if (cols != mxGetM(prhs[1]) * mxGetN(prhs[1]))
    mexErrMsgTxt(
        "Unmatched size: length of the second much be the same as the column of the first.");

  double sum = 0;
  for (std::size_t j = 0; j < cols; ++j) {
    for (std::size_t k = 0; k < rows; ++k) {
      double p = joint[k + j * rows];
      if (p != 0 && col_marginal[j] != 0) sum = sum + std::log(col_marginal[j] / p) * p;
    }
  }

  plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
  *mxGetPr(plhs[0]) = sum / ln2;
}
