% The modules chained as a user chains them: tables from varnel and dostir
% feed the measures of quorlin, brennix and mavrel. The first pair is the
% README's example: y is a function of x, so I(x; y) = H(y).

x = [1 2 2 1 3 3 1 2];
y = int8([0 1 1 0 1 1 0 1]);
[p, px, py] = varnel (x, y);
mi = brennix (p, px, py);
check_close ("README example value", mi, 0.9544340029249650, 1e-15);
check_equal ("marginals from the table give the same", brennix (p), mi);
check_close ("I(x; y) = H(y)", mi, quorlin (py), 1e-12);
check_close ("I(x; y) = H(x) - H(x | y)", mi, quorlin (px) - mavrel (p, py), 1e-12);
check_equal ("dostir gives varnel's row marginal", dostir (x), px);
check_equal ("dostir gives varnel's column marginal", dostir (y), py);

% Independent variables share no information, and each pair of dependent
% ones satisfies the identities whichever variable is the row.
a = [1 1 2 2 3 3 4 4];
b = [1 2 1 2 1 1 2 2];
[p, pa, pb] = varnel (a, b);
check_close ("I(a; b) = H(a) - H(a | b)", brennix (p, pa, pb), quorlin (pa) - mavrel (p, pb), 1e-12);
[q, qb, qa] = varnel (b, a);
check_close ("mutual information is symmetric", brennix (q, qb, qa), brennix (p, pa, pb), 1e-12);
check_close ("I(b; a) = H(b) - H(b | a)", brennix (q, qb, qa), quorlin (qb) - mavrel (q, qa), 1e-12);
p = varnel ([1 1 2 2], [1 2 1 2]);
check_close ("independent variables", brennix (p), 0, 1e-15);

finish_tests ("chain");
