% dostir: marginal probabilities (or counts), state values and running sums
% of an integer-valued vector or image.

note = "The argument #state is invalid. This program will decide #state itself.\n";
usage = ["dostir: Usage [marginprob,statelist,cumsumlist] = progname(vector1, maxstatenum, b_returnprob). " ...
         "\n(Both vectors can be images). Max range handled: INT type of the OS"];

% Each case: label, arguments, expected marginprob, statelist, cumsumlist and
% printed text. Running sums are written as the module adds them.
cases = {
  "double [3 3 5]", {[3 3 5]}, ...
    [2/3; 0; 1/3], [3; 4; 5], [2/3; 2/3 + 0; 2/3 + 0 + 1/3], "";
  "maxstatenum 5 adds empty states that continue the values", {[3 3 5], 5}, ...
    [2/3; 0; 1/3; 0; 0], [3; 4; 5; 6; 7], [2/3; 2/3; 1; 1; 1], "";
  "maxstatenum below the state count never shrinks", {[3 3 5], 2}, ...
    [2/3; 0; 1/3], [3; 4; 5], [2/3; 2/3; 1], "";
  "maxstatenum 1 lets the data decide", {[3 3 5], 1}, ...
    [2/3; 0; 1/3], [3; 4; 5], [2/3; 2/3; 1], note;
  "maxstatenum 0 lets the data decide", {[3 3 5], 0}, ...
    [2/3; 0; 1/3], [3; 4; 5], [2/3; 2/3; 1], note;
  "maxstatenum -4 lets the data decide", {[3 3 5], -4}, ...
    [2/3; 0; 1/3], [3; 4; 5], [2/3; 2/3; 1], note;
  "maxstatenum 1.9 truncates to 1", {[3 3 5], 1.9}, ...
    [2/3; 0; 1/3], [3; 4; 5], [2/3; 2/3; 1], note;
  "maxstatenum NaN lets the data decide", {[3 3 5], NaN}, ...
    [2/3; 0; 1/3], [3; 4; 5], [2/3; 2/3; 1], note;
  "maxstatenum 4.9 truncates to 4", {[3 3 5], 4.9}, ...
    [2/3; 0; 1/3; 0], [3; 4; 5; 6], [2/3; 2/3; 1; 1], "";
  "b_returnprob 0 gives counts", {[3 3 5], 0, 0}, ...
    [2; 0; 1], [3; 4; 5], [2; 2; 3], note;
  "counts with a larger maxstatenum", {[3 3 5], 4, 0}, ...
    [2; 0; 1; 0], [3; 4; 5; 6], [2; 2; 3; 3], "";
  "b_returnprob NaN counts as true", {[3 3 5], 3, NaN}, ...
    [2/3; 0; 1/3], [3; 4; 5], [2/3; 2/3; 1], "";
  "int8 [-2 1]", {int8([-2 1])}, ...
    [1/2; 0; 0; 1/2], [-2; -1; 0; 1], [1/2; 1/2; 1/2; 1], "";
  "int8 extremes", {int8([-128 127])}, ...
    [1/2; zeros(254, 1); 1/2], (-128:127)', [repmat(1/2, 255, 1); 1], "";
  "uint8 [255 250 255]", {uint8([255 250 255])}, ...
    [1/3; 0; 0; 0; 0; 2/3], (250:255)', [1/3; 1/3; 1/3; 1/3; 1/3; 1/3 + 2/3], "";
  "halves round away from zero", {[0.5 -0.5]}, ...
    [1/2; 0; 1/2], [-1; 0; 1], [1/2; 1/2; 1], "";
  "2.5, -2.5, 0.49 and -0.49", {[2.5 -2.5 0.49 -0.49]}, ...
    [1/4; 0; 0; 2/4; 0; 0; 1/4], (-3:3)', [1/4; 1/4; 1/4; 3/4; 3/4; 3/4; 1], "";
  "the half is added in double precision", {[0.49999999999999994 0]}, ...
    [1/2; 1/2], [0; 1], [1/2; 1], "";
  "a single element", {7}, [1], [7], [1], "";
  "an image counts every element", {[3 5; 3 3]}, ...
    [3/4; 0; 1/4], [3; 4; 5], [3/4; 3/4; 1], "";
};

for i = 1:rows (cases)
  [label, args, marginprob, statelist, cumsumlist, printed] = cases{i, :};
  [text, out] = call_module (@() dostir (args{:}), 3);
  check_equal ([label " marginprob"], out{1}, marginprob);
  check_equal ([label " statelist"], out{2}, statelist);
  check_equal ([label " cumsumlist"], out{3}, cumsumlist);
  check_text ([label " printed"], text, printed);
endfor

% Fewer outputs: only the requested ones, same values.
[text, out] = call_module (@() dostir ([3 3 5]), 1);
check_equal ("one output", out{1}, [2/3; 0; 1/3]);
[text, out] = call_module (@() dostir (uint8([1 1 2]), 3, 0), 2);
check_equal ("two outputs marginprob", out{1}, [2; 1; 0]);
check_equal ("two outputs statelist", out{2}, [1; 2; 3]);
[text, out] = call_module (@() dostir ([3 3 5]), 0);
check_text ("no output requested prints nothing", text, "");

% Values that are whole numbers stay themselves, far from zero as well.
[text, out] = call_module (@() dostir ([-2147483648 -2147483647]), 2);
check_equal ("int extremes of the range", out{2}, [-2147483648; -2147483647]);

errors = {
  "no input", @() dostir(), 0, usage;
  "four inputs", @() dostir(1, 2, 3, 4), 0, usage;
  "four outputs", @() dostir(1), 4, ...
    "dostir: Too many output argument <marginalprob_list, statelist, cumsumlist>.";
  "char input", @() dostir("abc"), 0, ...
    "dostir: The first input argument must be types of INT8 or UINT8 or DOUBLE.";
  "int16 input", @() dostir(int16(1)), 0, ...
    "dostir: The first input argument must be types of INT8 or UINT8 or DOUBLE.";
  "single input", @() dostir(single(1)), 0, ...
    "dostir: The first input argument must be types of INT8 or UINT8 or DOUBLE.";
  "logical input", @() dostir(true), 0, ...
    "dostir: The first input argument must be types of INT8 or UINT8 or DOUBLE.";
  "sparse input", @() dostir(sparse([1 0 2])), 0, ...
    "dostir: The first input argument must not be sparse.";
  "empty input", @() dostir([]), 0, "dostir: The input vector is invalid.";
  "0 x 3 input", @() dostir(zeros(0, 3)), 0, "dostir: The input vector is invalid.";
  "empty int8 input", @() dostir(int8([])), 0, "dostir: The input vector is invalid.";
  "NaN value", @() dostir([1 NaN]), 0, ...
    "dostir: Input values must be finite and fit the INT type after rounding.";
  "infinite value", @() dostir([-Inf 1]), 0, ...
    "dostir: Input values must be finite and fit the INT type after rounding.";
  "value above the int range", @() dostir([1 1e12]), 0, ...
    "dostir: Input values must be finite and fit the INT type after rounding.";
  "value rounding past the int range", @() dostir(2147483647.5), 0, ...
    "dostir: Input values must be finite and fit the INT type after rounding.";
  "value below the int range", @() dostir(-2147483649), 0, ...
    "dostir: Input values must be finite and fit the INT type after rounding.";
  "state range beyond int", @() dostir([-2e9 2e9]), 0, ...
    "dostir: The range of input values is too large for the INT type.";
  "maxstatenum beyond int", @() dostir([1 2], 3e9), 0, ...
    "dostir: The argument #state is too large for the INT type.";
  "maxstatenum infinite", @() dostir([1 2], Inf), 0, ...
    "dostir: The argument #state is too large for the INT type.";
  "empty maxstatenum", @() dostir([1 2], []), 0, "dostir: The argument #state is empty.";
  "empty b_returnprob", @() dostir([1 2], 3, []), 0, "dostir: The argument b_returnprob is empty.";
};
for i = 1:rows (errors)
  [label, f, nout, message] = errors{i, :};
  check_error (label, f, nout, message);
endfor

finish_tests ("dostir");
