function check_error (label, f, nout, expected)
  % f must fail with exactly the expected message when asked for nout
  % outputs. Octave puts the module's name and ": " before a MEX error.
  out = cell (1, nout);
  raised = false;
  try
    if (nout == 0)
      f ();
    else
      [out{:}] = f ();
    endif
  catch err
    raised = true;
    check_text (label, err.message, expected);
  end_try_catch
  if (! raised)
    record_failure (label, "no error was raised");
  endif
endfunction
