function check_equal (label, actual, expected)
  % Exact comparison: class, size and every bit of every value (NaN equals
  % NaN), since the modules' arithmetic order is part of their behaviour.
  if (! (strcmp (class (actual), class (expected))
         && isequal (size (actual), size (expected))
         && isequaln (actual, expected)))
    record_failure (label, sprintf ("expected %s (%s)\n    got %s (%s)",
                                    mat2str (expected, 17), class (expected),
                                    mat2str (actual, 17), class (actual)));
  endif
endfunction
