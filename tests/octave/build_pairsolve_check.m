% build_pairsolve run in Octave: the module it builds with Octave's own mex command, in a folder of
% its own, is the pairsolve that answers, with its help text and passing test blocks.
%
% Environment: PAIRSOLVE_WORK_DIR, a folder this script may empty and use.
work = getenv ("PAIRSOLVE_WORK_DIR");
if (isempty (work))
  error ("PAIRSOLVE_WORK_DIR must be set");
end
if (exist (work, "dir"))
  confirm_recursive_rmdir (false);
  rmdir (work, "s");
end
mkdir (work);
cd (work);  % the current folder comes first on Octave's path: keep it away from other modules

output = fullfile (work, "module");
build_pairsolve (output);
addpath (output);

module = fullfile (output, "pairsolve.mex");
if (! strcmp (which ("pairsolve"), module))
  error ("pairsolve resolves to \"%s\", not to %s", which ("pairsolve"), module);
end
[a, c] = pairsolve ([4 1 3; 2 0 5; 3 2 2]);
if (! isequal ({a, c}, {[2; 1; 3], 5}))
  error ("the module built by build_pairsolve gives %s, %g", mat2str (a), c);
end
if (isempty (strfind (get_help_text ("pairsolve"), "Forbidden pairs")))
  error ("help pairsolve does not show pairsolve.m beside the module");
end
[passed, total] = test ("pairsolve", "quiet");
printf ("build_pairsolve: module built, %d of %d test blocks passed\n", passed, total);
if (total == 0 || passed != total)
  error ("test blocks failed against the module built by build_pairsolve");
end
