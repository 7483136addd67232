% varnel: joint probability table (or counts) of two integer-valued vectors
% or images, with the row and column sums.

note = "The argument #state is invalid. This program will decide #state itself.\n";
usage = ["varnel: Usage [jointprob_table, marginprob_1, marginprob2] = progname(vector1, vector2, maxstatenum, b_returnprob). " ...
         "\n(Both vectors can be images). Max range handled: INT type of the OS"];

t = 1/3;
% Each case: label, arguments, expected table, row sums, column sums, printed
% text. Sums are written in the order the module adds them.
cases = {
  "[1 2 2] with [1 1 2]", {[1 2 2], [1 1 2]}, ...
    [t 0; t t], [0 + t + 0; 0 + t + t], [0 + t + t; 0 + 0 + t], "";
  "counts", {[1 2 2], [1 1 2], 2, 0}, ...
    [1 0; 1 1], [1; 2], [2; 1], "";
  "maxstatenum 4 pads with zero states", {[1 2 2], [1 1 2], 4}, ...
    [t 0 0 0; t t 0 0; 0 0 0 0; 0 0 0 0], [t; t + t; 0; 0], [t + t; t; 0; 0], "";
  "maxstatenum enlarges only the smaller dimension", {[0 3 1 2], [5 5 6 6], 3, 0}, ...
    [1 0 0; 0 1 0; 0 1 0; 1 0 0], [1; 1; 1; 1], [2; 2; 0], "";
  "maxstatenum 1 lets the data decide", {[1 2 2], [1 1 2], 1}, ...
    [t 0; t t], [t; t + t], [t + t; t], note;
  "maxstatenum 0 lets the data decide", {[1 2 2], [1 1 2], 0}, ...
    [t 0; t t], [t; t + t], [t + t; t], note;
  "maxstatenum -4 lets the data decide", {[1 2 2], [1 1 2], -4}, ...
    [t 0; t t], [t; t + t], [t + t; t], note;
  "b_returnprob NaN counts as true", {[1 2 2], [1 1 2], 2, NaN}, ...
    [t 0; t t], [t; t + t], [t + t; t], "";
  "int8 with uint8", {int8([-1 1]), uint8([200 201])}, ...
    [1/2 0; 0 0; 0 1/2], [1/2; 0; 1/2], [1/2; 1/2], "";
  "int8 with double", {int8([-2 1 1 1]), [0 0 0 1]}, ...
    [1/4 0; 0 0; 0 0; 2/4 1/4], [1/4; 0; 0; 2/4 + 1/4], [1/4 + 2/4; 1/4], "";
  "halves round away from zero", {[0.5 -0.5], [2.5 2.5]}, ...
    [1/2; 0; 1/2], [1/2; 0; 1/2], [1/2 + 1/2], "";
  "same vector twice is diagonal", {uint8([7 8 8 9]), uint8([7 8 8 9])}, ...
    [1/4 0 0; 0 2/4 0; 0 0 1/4], [1/4; 2/4; 1/4], [1/4; 2/4; 1/4], "";
};

for i = 1:rows (cases)
  [label, args, table, rowsums, colsums, printed] = cases{i, :};
  [text, out] = call_module (@() varnel (args{:}), 3);
  check_equal ([label " table"], out{1}, table);
  check_equal ([label " row sums"], out{2}, rowsums);
  check_equal ([label " column sums"], out{3}, colsums);
  check_text ([label " printed"], text, printed);
endfor

% An image pairs with a vector of as many elements in column-major order:
% [1 2 3; 1 2 3] is stored as 1 1 2 2 3 3.
s = 1/6;
[text, out] = call_module (@() varnel ([1 2 3; 1 2 3], 1:6), 1);
check_equal ("image with vector", out{1}, [s s 0 0 0 0; 0 0 s s 0 0; 0 0 0 0 s s]);
[text, out] = call_module (@() varnel ((1:6)', [1 2 3; 1 2 3]), 1);
check_equal ("vector with image", out{1}, [s s 0 0 0 0; 0 0 s s 0 0; 0 0 0 0 s s]');

% Only the requested outputs are made.
[text, out] = call_module (@() varnel ([1 2 2], [1 1 2]), 2);
check_equal ("two outputs table", out{1}, [t 0; t t]);
check_equal ("two outputs row sums", out{2}, [t; t + t]);
text = call_module (@() varnel ([1 2 2], [1 1 2]), 0);
check_text ("no output requested prints nothing", text, "");

type_error = "must be types of INT8 or UINT8 or DOUBLE.";
errors = {
  "one input", @() varnel(1), 0, usage;
  "five inputs", @() varnel(1, 2, 3, 4, 5), 0, usage;
  "four outputs", @() varnel(1, 2), 4, "varnel: Too many output argument <jointprob_table>.";
  "char first", @() varnel("ab", [1 2]), 0, ["varnel: The first input argument " type_error];
  "single first, char second", @() varnel(single([1 2]), "ab"), 0, ...
    ["varnel: The first input argument " type_error];
  "int16 second", @() varnel([1 2], int16([1 2])), 0, ["varnel: The second input argument " type_error];
  "logical second", @() varnel([1 2], [true false]), 0, ["varnel: The second input argument " type_error];
  "sparse first", @() varnel(sparse([1 0]), [1 2]), 0, ...
    "varnel: The first input argument must not be sparse.";
  "sparse second", @() varnel([1 2], sparse([1 0])), 0, ...
    "varnel: The second input argument must not be sparse.";
  "empty first", @() varnel([], [1 2 3]), 0, "varnel: At least one of the input vectors is invalid.";
  "empty second", @() varnel([1 2 3], zeros(1, 0)), 0, ...
    "varnel: At least one of the input vectors is invalid.";
  "both empty", @() varnel([], []), 0, "varnel: At least one of the input vectors is invalid.";
  "lengths 3 and 4", @() varnel([1 2 3], [1 2 3 4]), 0, ...
    "varnel: The two vectors/images should have the same length.";
  "2 x 3 image with 5 elements", @() varnel(ones(2, 3), 1:5), 0, ...
    "varnel: The two vectors/images should have the same length.";
  "NaN in the first", @() varnel([NaN 1], [1 2]), 0, ...
    "varnel: Input values must be finite and fit the INT type after rounding.";
  "value beyond int in the second", @() varnel([1 2], [1 -1e12]), 0, ...
    "varnel: Input values must be finite and fit the INT type after rounding.";
  "state range beyond int", @() varnel([1 2], [-2e9 2e9]), 0, ...
    "varnel: The range of input values is too large for the INT type.";
  "maxstatenum beyond int", @() varnel([1 2], [1 2], 3e9), 0, ...
    "varnel: The argument #state is too large for the INT type.";
  "empty maxstatenum", @() varnel([1 2], [1 2], []), 0, "varnel: The argument #state is empty.";
  "empty b_returnprob", @() varnel([1 2], [1 2], 2, []), 0, ...
    "varnel: The argument b_returnprob is empty.";
};
for i = 1:rows (errors)
  [label, f, nout, message] = errors{i, :};
  check_error (label, f, nout, message);
endfor

finish_tests ("varnel");
