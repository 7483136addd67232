function check_text (label, actual, expected)
  if (! strcmp (actual, expected))
    record_failure (label, sprintf ("expected \"%s\"\n    got \"%s\"",
                                    undo_string_escapes (expected),
                                    undo_string_escapes (actual)));
  endif
endfunction
