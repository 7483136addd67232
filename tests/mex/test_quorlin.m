% quorlin: entropy in bits of a probability vector, with its warnings.

ln2 = 0.6931471805599453;
negative = "Negative Probability!! Wrong data.\n";
dubious = "Dubious data! Sum is not 1.\n";

% Each case: label, input, expected entropy, printed text. Expected values
% follow the module's order: H = H - log(w) * w over the elements, then / ln 2.
cases = {
  "[0.5 0.5]", [0.5 0.5], 1, "";
  "[1 0]", [1 0], 0, "";
  "four quarters", [0.25 0.25 0.25 0.25], 2, "";
  "four quarters as 2 x 2", [0.25 0.25; 0.25 0.25], 2, "";
  "eight eighths as 2 x 2 x 2", repmat(1/8, [2 2 2]), 3, "";
  "column [0.2; 0.3; 0.5]", [0.2; 0.3; 0.5], ...
    (0 - log(0.2) * 0.2 - log(0.3) * 0.3 - log(0.5) * 0.5) / ln2, "";
  "[0.5 0.6] sums above 1", [0.5 0.6], (0 - log(0.5) * 0.5 - log(0.6) * 0.6) / ln2, dubious;
  "[0.2 0.3] sums below 1", [0.2 0.3], (0 - log(0.2) * 0.2 - log(0.3) * 0.3) / ln2, dubious;
  "sum 1 + 5e-11 passes", [0.5 0.5 + 5e-11], ...
    (0 - log(0.5) * 0.5 - log(0.5 + 5e-11) * (0.5 + 5e-11)) / ln2, "";
  "sum 1 + 2e-10 is dubious", [0.5 0.5 + 2e-10], ...
    (0 - log(0.5) * 0.5 - log(0.5 + 2e-10) * (0.5 + 2e-10)) / ln2, dubious;
  "[-0.1 1.1] warns once and is NaN", [-0.1 1.1], NaN, negative;
  "one warning per negative element", [-0.1 -0.2 1.3], NaN, [negative negative];
  "negative and dubious", [-0.5 0.2], NaN, [negative dubious];
  "a NaN element is not skipped", [NaN 1], NaN, "";
  "empty", [], 0, "";
  "0 x 3", zeros(0, 3), 0, "";
};

for i = 1:rows (cases)
  [label, input, entropy, printed] = cases{i, :};
  [text, out] = call_module (@() quorlin (input), 1);
  check_equal ([label " entropy"], out{1}, entropy);
  check_text ([label " printed"], text, printed);
endfor

usage = "quorlin: Usage [entropy] = progname(marginprob). .";
not_double = "quorlin: The input argument must be a full real DOUBLE array.";
errors = {
  "no input", @() quorlin(), 0, usage;
  "two inputs", @() quorlin([0.5 0.5], 1), 0, usage;
  "two outputs", @() quorlin([0.5 0.5]), 2, "quorlin: Too many output argument <entropy>.";
  "int8 input", @() quorlin(int8([1 0])), 0, not_double;
  "uint8 input", @() quorlin(uint8([1 0])), 0, not_double;
  "single input", @() quorlin(single([0.5 0.5])), 0, not_double;
  "char input", @() quorlin("a"), 0, not_double;
  "sparse input", @() quorlin(sparse([0.5 0 0.5])), 0, not_double;
  "complex input", @() quorlin([0.5 0.5i]), 0, not_double;
};
for i = 1:rows (errors)
  [label, f, nout, message] = errors{i, :};
  check_error (label, f, nout, message);
endfor

finish_tests ("quorlin");
