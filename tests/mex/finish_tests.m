function finish_tests (name)
  % Ends a test script: exit status 1 when any check failed.
  global mex_test_failures
  if (isempty (mex_test_failures) || mex_test_failures == 0)
    printf ("%s: all checks passed\n", name);
  else
    printf ("%s: %d check(s) failed\n", name, mex_test_failures);
    exit (1);
  endif
endfunction
