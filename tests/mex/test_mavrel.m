% mavrel: conditional entropy in bits of the row variable of a joint table
% given the column variable, from the table and the column marginal.

ln2 = 0.6931471805599453;
P = [0.1 0.2 0.1; 0.3 0.1 0.2];
pb = [0.4 0.3 0.3];
% The module's sum: column by column, log(pb / P) * P, then / ln 2.
expected = 0;
for j = 1:3
  for k = 1:2
    expected = expected + log (pb(j) / P(k, j)) * P(k, j);
  endfor
endfor
expected = expected / ln2;

% Each case: label, table, column marginal, expected conditional entropy.
cases = {
  "[0.5 0; 0 0.5]", [0.5 0; 0 0.5], [0.5 0.5], 0;
  "four quarters", [0.25 0.25; 0.25 0.25], [0.5 0.5], 1;
  "column marginal as a column", [0.25 0.25; 0.25 0.25], [0.5; 0.5], 1;
  "2 x 3 table", P, pb, expected;
  "a zero marginal entry skips its column", [0.5 0.25; 0 0.25], [0 0.5], ...
    (log(0.5 / 0.25) * 0.25 + log(0.5 / 0.25) * 0.25) / ln2;
  "empty table", zeros(2, 0), [], 0;
};
for i = 1:rows (cases)
  [label, table, marginal, value] = cases{i, :};
  [text, out] = call_module (@() mavrel (table, marginal), 1);
  check_equal ([label " conditional entropy"], out{1}, value);
  check_text ([label " printed"], text, "");
endfor

usage = ["mavrel: Usage [mutual_info] = progname(jointprob_table, marginprob_2). " ...
         "The last two inputs are optional."];
not_double = "input argument must be a full real DOUBLE array.";
errors = {
  "no input", @() mavrel(), 0, usage;
  "the table alone", @() mavrel([0.5 0; 0 0.5]), 0, usage;
  "three inputs", @() mavrel(P, pb, pb), 0, usage;
  "two outputs", @() mavrel(P, pb), 2, "mavrel: Too many output argument <mutual_info>.";
  "three marginal entries for two columns", @() mavrel([0.5 0; 0 0.5], [0.2 0.3 0.5]), 0, ...
    "mavrel: Unmatched size: length of the second much be the same as the column of the first.";
  "int8 table", @() mavrel(int8([1 0; 0 1]), [1 1]), 0, ["mavrel: The first " not_double];
  "sparse table", @() mavrel(sparse([0.5 0; 0 0.5]), [0.5 0.5]), 0, ["mavrel: The first " not_double];
  "uint8 marginal", @() mavrel([0.5 0; 0 0.5], uint8([1 1])), 0, ["mavrel: The second " not_double];
  "complex marginal", @() mavrel([0.5 0; 0 0.5], [0.5 0.5i]), 0, ["mavrel: The second " not_double];
};
for i = 1:rows (errors)
  [label, f, nout, message] = errors{i, :};
  check_error (label, f, nout, message);
endfor

finish_tests ("mavrel");
