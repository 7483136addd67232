// brennix: mutual information, in bits, of the two variables of a joint
// probability table.
//
//   mutual_info = brennix(jointprob_table, marginprob_1, marginprob2)
//
// Entry (k, j) of the M x N table is the probability of row state k together
// with column state j. The two marginals are optional; given, they are
// accepted in either order, and when neither order fits the table they are
// ignored and computed from the table.

#include "mex.h"

#include <cmath>
#include <cstddef>
#include <memory>

namespace {

const double ln2 = 0.6931471805599453;

// Other classes and sparse arrays do not hold rows x columns doubles.
bool is_full_real_double(const mxArray* arg) {
  return mxIsDouble(arg) && !mxIsComplex(arg) && !mxIsSparse(arg);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs != 1 && nrhs != 3)
    mexErrMsgTxt(
        "Usage [mutual_info] = progname(jointprob_table, marginprob_1, marginprob2). The last two "
        "inputs are optional.");
  if (nlhs > 1) mexErrMsgTxt("Too many output argument <mutual_info>.");
  if (!is_full_real_double(prhs[0]))
    mexErrMsgTxt("The first input argument must be a full real DOUBLE array.");
  if (nrhs == 3) {
    if (!is_full_real_double(prhs[1]))
      mexErrMsgTxt("The second input argument must be a full real DOUBLE array.");
    if (!is_full_real_double(prhs[2]))
      mexErrMsgTxt("The third input argument must be a full real DOUBLE array.");
  }

  const double* joint = mxGetPr(prhs[0]);
  std::size_t rows = mxGetM(prhs[0]);
  std::size_t cols = mxGetN(prhs[0]);

  const double* row_marginal = nullptr;
  const double* col_marginal = nullptr;
  if (nrhs == 3) {
    std::size_t size_a = mxGetM(prhs[1]) * mxGetN(prhs[1]);
    std::size_t size_b = mxGetM(prhs[2]) * mxGetN(prhs[2]);
    if (size_a == rows && size_b == cols) {
      row_marginal = mxGetPr(prhs[1]);
      col_marginal = mxGetPr(prhs[2]);
    } else if (size_a == cols && size_b == rows) {
      row_marginal = mxGetPr(prhs[2]);
      col_marginal = mxGetPr(prhs[1]);
    } else {
      mexPrintf("pab size (%lld,%lld) doesn't match pa size %lld and pb size %lld\n.",
                static_cast<long long>(rows), static_cast<long long>(cols),
                static_cast<long long>(size_a), static_cast<long long>(size_b));
    }
  }

  std::unique_ptr<double[]> computed_rows;
  std::unique_ptr<double[]> computed_cols;
  if (row_marginal == nullptr) {
    computed_rows.reset(new double[rows]());
    computed_cols.reset(new double[cols]());
    for (std::size_t k = 0; k < rows; ++k) {
      for (std::size_t j = 0; j < cols; ++j) {
        computed_rows[k] = computed_rows[k] + joint[k + j * rows];
        computed_cols[j] = computed_cols[j] + joint[k + j * rows];
      }
    }
    row_marginal = computed_rows.get();
    col_marginal = computed_cols.get();
  }

  double sum = 0;
  for (std::size_t j = 0; j < cols; ++j) {
    for (std::size_t k = 0; k < rows; ++k) {
      double p = joint[k + j * rows];
      // A zero marginal would divide by zero; its terms count as 0.
      if (p != 0 && row_marginal[k] != 0 && col_marginal[j] != 0)
        sum = sum + std::log(p / row_marginal[k] / col_marginal[j]) * p;
    }
  }

  plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
  *mxGetPr(plhs[0]) = sum / ln2;
}
