function [printed, out] = call_module (f, nout)
  % Calls f with nout outputs and returns what it printed along with the
  % outputs (in a cell array).
  out = cell (1, nout);
  if (nout == 0)
    printed = evalc ("f ();");
  else
    printed = evalc ("[out{:}] = f ();");
  endif
endfunction
