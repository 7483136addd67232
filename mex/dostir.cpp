// dostir: marginal probability vector of an integer-valued vector or image.
//
//   [marginprob, statelist, cumsumlist] = dostir(vector1, maxstatenum, b_returnprob)
//
// Every element of vector1 (int8, uint8 or double, any shape, read in storage
// order) is rounded to an int; each distinct value between the smallest and
// the largest is one state, whether or not an element takes it.

#include "mex.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <memory>

namespace {

const char* const usage_text =
    "Usage [marginprob,statelist,cumsumlist] = progname(vector1, maxstatenum, b_returnprob). "
    "\n(Both vectors can be images). Max range handled: INT type of the OS";

enum class Coding { ok, missing, value_out_of_range, range_too_large };

// Halves round away from zero. A value with no int counterpart (NaN, infinite
// or out of range) is reported instead of being converted, which would be
// undefined.
bool round_to_int(double x, long long& rounded) {
  if (std::isnan(x)) return false;
  double truncated = x > 0 ? std::trunc(x + 0.5) : std::trunc(x - 0.5);
  if (truncated < INT_MIN || truncated > INT_MAX) return false;
  rounded = static_cast<long long>(truncated);
  return true;
}

bool round_to_int(signed char x, long long& rounded) {
  rounded = x;
  return true;
}

bool round_to_int(unsigned char x, long long& rounded) {
  rounded = x;
  return true;
}

// Fills codes[i] with the state number of srcdata[i], counted from the
// smallest rounded value, and sets the state count and the extreme values.
template <class T>
Coding copyvecdata(const T* srcdata, std::size_t len, int* codes, int& nstate, int& minval,
                   int& maxval) {
  if (srcdata == nullptr || codes == nullptr) {
    mexPrintf("NULL points in copyvecdata()!\n");
    return Coding::missing;
  }
  if (len == 0) {
    nstate = 0;
    minval = maxval = 0;
    return Coding::ok;
  }
  long long value = 0;
  if (!round_to_int(srcdata[0], value)) return Coding::value_out_of_range;
  long long lowest = value, highest = value;
  for (std::size_t i = 0; i < len; ++i) {
    if (!round_to_int(srcdata[i], value)) return Coding::value_out_of_range;
    codes[i] = static_cast<int>(value);
    if (value < lowest) lowest = value;
    if (value > highest) highest = value;
  }
  // Two extreme ints can be more than INT_MAX apart.
  if (highest - lowest + 1 > INT_MAX) return Coding::range_too_large;
  for (std::size_t i = 0; i < len; ++i) codes[i] = static_cast<int>(codes[i] - lowest);
  nstate = static_cast<int>(highest - lowest + 1);
  minval = static_cast<int>(lowest);
  maxval = static_cast<int>(highest);
  return Coding::ok;
}

// The requested state count; 1 or less (or not a number) lets the data decide.
int read_state_request(const mxArray* arg) {
  if (mxGetNumberOfElements(arg) == 0) mexErrMsgTxt("The argument #state is empty.");
  double request = std::trunc(mxGetScalar(arg));
  if (!(request > 1)) {
    mexPrintf("The argument #state is invalid. This program will decide #state itself.\n");
    return 0;
  }
  if (request > INT_MAX) mexErrMsgTxt("The argument #state is too large for the INT type.");
  return static_cast<int>(request);
}

bool read_return_prob(const mxArray* arg) {
  if (mxGetNumberOfElements(arg) == 0) mexErrMsgTxt("The argument b_returnprob is empty.");
  return mxGetScalar(arg) != 0;
}

const char* coding_error(Coding result) {
  switch (result) {
    case Coding::missing:
      return "The input vector is invalid.";
    case Coding::value_out_of_range:
      return "Input values must be finite and fit the INT type after rounding.";
    default:
      return "The range of input values is too large for the INT type.";
  }
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs < 1 || nrhs > 3) mexErrMsgTxt(usage_text);
  if (nlhs > 3) mexErrMsgTxt("Too many output argument <marginalprob_list, statelist, cumsumlist>.");

  const mxArray* input = prhs[0];
  if (!mxIsInt8(input) && !mxIsUint8(input) && !mxIsDouble(input))
    mexErrMsgTxt("The first input argument must be types of INT8 or UINT8 or DOUBLE.");
  // A sparse array stores fewer values than it has elements.
  if (mxIsSparse(input)) mexErrMsgTxt("The first input argument must not be sparse.");

  const void* data = mxGetData(input);
  std::size_t len = mxGetNumberOfElements(input);
  if (data == nullptr || len == 0) mexErrMsgTxt("The input vector is invalid.");

  int request = nrhs >= 2 ? read_state_request(prhs[1]) : 0;
  bool return_prob = nrhs >= 3 ? read_return_prob(prhs[2]) : true;

  std::unique_ptr<int[]> codes(new int[len]);
  int nstate = 0, minval = 0, maxval = 0;
  Coding result = Coding::missing;
  switch (mxGetClassID(input)) {
    case mxINT8_CLASS:
      result = copyvecdata(static_cast<const signed char*>(data), len, codes.get(), nstate, minval,
                           maxval);
      break;
    case mxUINT8_CLASS:
      result = copyvecdata(static_cast<const unsigned char*>(data), len, codes.get(), nstate,
                           minval, maxval);
      break;
    default:
      result = copyvecdata(static_cast<const double*>(data), len, codes.get(), nstate, minval,
                           maxval);
      break;
  }
  if (result != Coding::ok) {
    codes.reset();
    mexErrMsgTxt(coding_error(result));
  }

  int n = request > nstate ? request : nstate;
  plhs[0] = mxCreateDoubleMatrix(n, 1, mxREAL);
  double* marginprob = mxGetPr(plhs[0]);
  for (int k = 0; k < n; ++k) marginprob[k] = 0;
  for (std::size_t i = 0; i < len; ++i) marginprob[codes[i]] += 1;
  if (return_prob) {
    double count = static_cast<double>(len);
    for (int k = 0; k < n; ++k) marginprob[k] = marginprob[k] / count;
  }

  if (nlhs >= 2) {
    plhs[1] = mxCreateDoubleMatrix(n, 1, mxREAL);
    double* statelist = mxGetPr(plhs[1]);
    // A request beyond the data's range continues the sequence past maxval.
    for (int k = 0; k < n; ++k) statelist[k] = static_cast<double>(static_cast<long long>(minval) + k);
  }
  if (nlhs >= 3) {
    plhs[2] = mxCreateDoubleMatrix(n, 1, mxREAL);
    double* cumsumlist = mxGetPr(plhs[2]);
    cumsumlist[0] = marginprob[0];
    for (int k = 1; k < n; ++k) cumsumlist[k] = cumsumlist[k - 1] + marginprob[k];
  }
}
