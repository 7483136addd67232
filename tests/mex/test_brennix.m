% brennix: mutual information in bits of the two variables of a joint table,
% with given marginals (in either order) or marginals from the table.
1;

function mi = mutual_information (P, pa, pb)
  % The module's sum: column by column, log(P / pa / pb) * P, terms with a
  % zero skipped, divided by ln 2 at the end.
  mi = 0;
  for j = 1:columns (P)
    for k = 1:rows (P)
      if (P(k, j) != 0 && pa(k) != 0 && pb(j) != 0)
        mi = mi + log (P(k, j) / pa(k) / pb(j)) * P(k, j);
      endif
    endfor
  endfor
  mi = mi / 0.6931471805599453;
endfunction

P = [0.1 0.2 0.1; 0.3 0.1 0.2];
pa = [0.1 + 0.2 + 0.1; 0.3 + 0.1 + 0.2];   % row sums, added as the module adds them
pb = [0.1 + 0.3, 0.2 + 0.1, 0.1 + 0.2];     % column sums
qa = [0.5 0.5];                            % marginals that are not the table's
qb = [0.2 0.3 0.5];
S = [0.4 0.1; 0.2 0.3];                    % square: both orders of marginals fit

% Each case: label, arguments, expected mutual information, printed text.
cases = {
  "[0.5 0; 0 0.5]", {[0.5 0; 0 0.5]}, 1, "";
  "four quarters", {[0.25 0.25; 0.25 0.25]}, 0, "";
  "four quarters with marginals", {[0.25 0.25; 0.25 0.25], [0.5 0.5], [0.5 0.5]}, 0, "";
  "2 x 3 from the table", {P}, mutual_information(P, pa, pb), "";
  "2 x 3 with marginals (2, 3)", {P, pa, pb}, mutual_information(P, pa, pb), "";
  "2 x 3 with marginals (3, 2)", {P, pb, pa}, mutual_information(P, pa, pb), "";
  "given marginals are used as given", {P, qa, qb}, mutual_information(P, qa, qb), "";
  "given marginals are used in swapped order", {P, qb, qa}, mutual_information(P, qa, qb), "";
  "square table takes the second input as the row marginal", ...
    {S, [0.6 0.4], [0.3 0.7]}, mutual_information(S, [0.6 0.4], [0.3 0.7]), "";
  "marginals of 2 and 2 for a 2 x 3 table", {P, qa, [0.5 0.5]}, mutual_information(P, pa, pb), ...
    "pab size (2,3) doesn't match pa size 2 and pb size 2\n.";
  "marginals of 3 and 3 for a 2 x 3 table", {P, qb, qb}, mutual_information(P, pa, pb), ...
    "pab size (2,3) doesn't match pa size 3 and pb size 3\n.";
  "a zero row marginal skips its terms", {[0.5 0; 0 0.5], [0 0.5], [0.5 0.5]}, ...
    log(0.5 / 0.5 / 0.5) * 0.5 / 0.6931471805599453, "";
  "a zero column marginal skips its terms", {[0.5 0.2; 0.1 0.2], [0.7 0.3], [0 0.4]}, ...
    mutual_information([0.5 0.2; 0.1 0.2], [0.7 0.3], [0 0.4]), "";
  "empty table", {[]}, 0, "";
};

for i = 1:rows (cases)
  [label, args, mi, printed] = cases{i, :};
  [text, out] = call_module (@() brennix (args{:}), 1);
  check_equal ([label " mutual information"], out{1}, mi);
  check_text ([label " printed"], text, printed);
endfor

usage = ["brennix: Usage [mutual_info] = progname(jointprob_table, marginprob_1, marginprob2). " ...
         "The last two inputs are optional."];
not_double = "input argument must be a full real DOUBLE array.";
errors = {
  "no input", @() brennix(), 0, usage;
  "two inputs", @() brennix(P, pa), 0, usage;
  "four inputs", @() brennix(P, pa, pb, 1), 0, usage;
  "two outputs", @() brennix(P), 2, "brennix: Too many output argument <mutual_info>.";
  "int8 table", @() brennix(int8([1 0; 0 1])), 0, ["brennix: The first " not_double];
  "sparse table", @() brennix(sparse([0.5 0; 0 0.5])), 0, ["brennix: The first " not_double];
  "single second", @() brennix(P, single(pa), pb), 0, ["brennix: The second " not_double];
  "uint8 third", @() brennix(P, pa, uint8([0 1 0])), 0, ["brennix: The third " not_double];
  "complex third", @() brennix(P, pa, pb * 1i), 0, ["brennix: The third " not_double];
};
for i = 1:rows (errors)
  [label, f, nout, message] = errors{i, :};
  check_error (label, f, nout, message);
endfor

finish_tests ("brennix");
