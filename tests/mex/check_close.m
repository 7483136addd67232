function check_close (label, actual, expected, tolerance)
  % For identities between measures whose sums run in different orders.
  if (! (isscalar (actual) && abs (actual - expected) <= tolerance))
    record_failure (label, sprintf ("expected %.17g within %g\n    got %s",
                                    expected, tolerance, mat2str (actual, 17)));
  endif
endfunction
