// quorlin: entropy, in bits, of a probability vector.
//
//   entropy = quorlin(marginprob)
//
// marginprob is used by its number of elements, whatever its shape. Negative
// entries and a sum other than 1 are reported but do not stop the call.

#include "mex.h"

#include <cmath>
#include <cstddef>

namespace {

const double ln2 = 0.6931471805599453;

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs != 1) mexErrMsgTxt("Usage [entropy] = progname(marginprob). .");
  if (nlhs > 1) mexErrMsgTxt("Too many output argument <entropy>.");
  // Other classes and sparse arrays do not hold rows x columns doubles.
  if (!mxIsDouble(prhs[0]) || mxIsComplex(prhs[0]) || mxIsSparse(prhs[0]))
    mexErrMsgTxt("The input argument must be a full real DOUBLE array.");

  const double* prob = mxGetPr(prhs[0]);
  std::size_t n = mxGetM(prhs[0]) * mxGetN(prhs[0]);

  double entropy = 0, total = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double w = prob[i];
    if (w < 0) mexPrintf("Negative Probability!! Wrong data.\n");
    total = total + w;
    // 0 log 0 counts as 0; a NaN entry is not skipped and makes the result NaN.
    if (w != 0) entropy = entropy - std::log(w) * w;
  }
  if (n >= 1 && std::fabs(total - 1) > 1e-10) mexPrintf("Dubious data! Sum is not 1.\n");

  plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
  *mxGetPr(plhs[0]) = entropy / ln2;
}
