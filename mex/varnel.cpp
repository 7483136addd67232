// varnel: joint probability table of two integer-valued vectors or images.
//
//   [jointprob_table, marginprob_1, marginprob2] = varnel(vector1, vector2, maxstatenum, b_returnprob)
//
// The two inputs (int8, uint8 or double, any shapes with the same number of
// elements) are paired element by element in storage order. Row a of the
// table is state a of vector1, column b state b of vector2.

#include "mex.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <memory>

namespace {

const char* const usage_text =
    "Usage [jointprob_table, marginprob_1, marginprob2] = progname(vector1, vector2, maxstatenum, "
    "b_returnprob). \n(Both vectors can be images). Max range handled: INT type of the OS";

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
// smallest rounded value, and sets the state count.
template <class T>
Coding copyvecdata(const T* srcdata, std::size_t len, int* codes, int& nstate) {
  if (srcdata == nullptr || codes == nullptr) {
    mexPrintf("NULL points in copyvecdata()!\n");
    return Coding::missing;
  }
  if (len == 0) {
    nstate = 0;
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
  return Coding::ok;
}

Coding code_input(const mxArray* input, const void* data, std::size_t len, int* codes,
                  int& nstate) {
  switch (mxGetClassID(input)) {
    case mxINT8_CLASS:
      return copyvecdata(static_cast<const signed char*>(data), len, codes, nstate);
    case mxUINT8_CLASS:
      return copyvecdata(static_cast<const unsigned char*>(data), len, codes, nstate);
    default:
      return copyvecdata(static_cast<const double*>(data), len, codes, nstate);
  }
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
      return "At least one of the input vectors is invalid.";
    case Coding::value_out_of_range:
      return "Input values must be finite and fit the INT type after rounding.";
    default:
      return "The range of input values is too large for the INT type.";
  }
}

bool has_accepted_class(const mxArray* input) {
  return mxIsInt8(input) || mxIsUint8(input) || mxIsDouble(input);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs < 2 || nrhs > 4) mexErrMsgTxt(usage_text);
  if (nlhs > 3) mexErrMsgTxt("Too many output argument <jointprob_table>.");

  const mxArray* input1 = prhs[0];
  const mxArray* input2 = prhs[1];
  if (!has_accepted_class(input1))
    mexErrMsgTxt("The first input argument must be types of INT8 or UINT8 or DOUBLE.");
  if (!has_accepted_class(input2))
    mexErrMsgTxt("The second input argument must be types of INT8 or UINT8 or DOUBLE.");
  // A sparse array stores fewer values than it has elements.
  if (mxIsSparse(input1)) mexErrMsgTxt("The first input argument must not be sparse.");
  if (mxIsSparse(input2)) mexErrMsgTxt("The second input argument must not be sparse.");

  const void* data1 = mxGetData(input1);
  const void* data2 = mxGetData(input2);
  std::size_t len1 = mxGetNumberOfElements(input1);
  std::size_t len2 = mxGetNumberOfElements(input2);
  if (data1 == nullptr || data2 == nullptr || len1 == 0 || len2 == 0)
    mexErrMsgTxt("At least one of the input vectors is invalid.");
  if (len1 != len2) mexErrMsgTxt("The two vectors/images should have the same length.");
  std::size_t len = len1;

  int request = nrhs >= 3 ? read_state_request(prhs[2]) : 0;
  bool return_prob = nrhs >= 4 ? read_return_prob(prhs[3]) : true;

  std::unique_ptr<int[]> codes1(new int[len]);
  std::unique_ptr<int[]> codes2(new int[len]);
  int nstate1 = 0, nstate2 = 0;
  Coding result = code_input(input1, data1, len, codes1.get(), nstate1);
  if (result == Coding::ok) result = code_input(input2, data2, len, codes2.get(), nstate2);
  if (result != Coding::ok) {
    codes1.reset();
    codes2.reset();
    mexErrMsgTxt(coding_error(result));
  }

  // The request only ever enlarges a dimension, and it applies to both.
  std::size_t rows = static_cast<std::size_t>(request > nstate1 ? request : nstate1);
  std::size_t cols = static_cast<std::size_t>(request > nstate2 ? request : nstate2);
  plhs[0] = mxCreateDoubleMatrix(rows, cols, mxREAL);
  double* table = mxGetPr(plhs[0]);
  for (std::size_t e = 0; e < rows * cols; ++e) table[e] = 0;
  for (std::size_t k = 0; k < len; ++k)
    table[static_cast<std::size_t>(codes1[k]) + static_cast<std::size_t>(codes2[k]) * rows] += 1;
  if (return_prob) {
    double count = static_cast<double>(len);
    for (std::size_t e = 0; e < rows * cols; ++e) table[e] = table[e] / count;
  }

  if (nlhs >= 2) {
    plhs[1] = mxCreateDoubleMatrix(rows, 1, mxREAL);
    double* row_sums = mxGetPr(plhs[1]);
    for (std::size_t a = 0; a < rows; ++a) {
      double sum = 0;
      for (std::size_t b = 0; b < cols; ++b) sum += table[a + b * rows];
      row_sums[a] = sum;
    }
  }
  if (nlhs >= 3) {
    plhs[2] = mxCreateDoubleMatrix(cols, 1, mxREAL);
    double* col_sums = mxGetPr(plhs[2]);
    for (std::size_t b = 0; b < cols; ++b) {
      double sum = 0;
      for (std::size_t a = 0; a < rows; ++a) sum += table[a + b * rows];
      col_sums[b] = sum;
    }
  }
}
