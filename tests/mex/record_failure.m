function record_failure (label, detail)
  % Counts a failed check and says which one and why; finish_tests turns
  % the count into the exit status.
  global mex_test_failures
  if (isempty (mex_test_failures))
    mex_test_failures = 0;
  endif
  mex_test_failures += 1;
  printf ("FAIL %s: %s\n", label, detail);
endfunction
