function post_install (desc)
  % Octave takes the help text of pairsolve.mex from the pairsolve.m beside it, and `test
  % pairsolve` reads the tests from there too; but pkg install puts .m files and modules in
  % folders of their own. So the help file joins the module.
  modules = dir (fullfile (desc.archprefix, "*", "pairsolve.mex"));
  if (numel (modules) != 1)
    error ("pairsolve: expected one pairsolve.mex under %s, found %d", desc.archprefix,
           numel (modules));
  end
  [ok, message] = movefile (fullfile (desc.dir, "pairsolve.m"), modules(1).folder);
  if (! ok)
    error ("pairsolve: could not move pairsolve.m beside the module: %s", message);
  end
end
