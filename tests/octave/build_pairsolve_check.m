% build_pairsolve run in Octave, with Octave's own mex command: the module it builds is the
% pairsolve that answers, with its help text and passing test blocks. Two builds, both through
% folders whose names hold a space:
% - into a relative folder, build_pairsolve ('rel out'), from the checkout this runs in;
% - from a copy of the checkout under "my repo", into its default folder "build".
% A build that fails leaves no empty folder behind.
%
% Environment: PAIRSOLVE_WORK_DIR, a folder this script may empty and use.
1;

function check_module (folder)
  module = fullfile (folder, "pairsolve.mex");
  addpath (folder);
  clear pairsolve;
  if (! strcmp (which ("pairsolve"), module))
    error ("pairsolve resolves to \"%s\", not to %s", which ("pairsolve"), module);
  end
  [a, c] = pairsolve ([4 1 3; 2 0 5; 3 2 2]);
  if (! isequal ({a, c}, {[2; 1; 3], 5}))
    error ("the module built by build_pairsolve in %s gives %s, %g", folder, mat2str (a), c);
  end
  if (isempty (strfind (get_help_text ("pairsolve"), "Forbidden pairs")))
    error ("help pairsolve does not show pairsolve.m beside the module in %s", folder);
  end
  [passed, total] = test ("pairsolve", "quiet");
  printf ("build_pairsolve: module built in %s, %d of %d test blocks passed\n", folder, passed, total);
  if (total == 0 || passed != total)
    error ("test blocks failed against the module built by build_pairsolve in %s", folder);
  end
  clear pairsolve;
  rmpath (folder);
end

% A copy of what build_pairsolve needs from the checkout, under FOLDER.
function copy_checkout (root, folder)
  mkdir (folder);
  copyfile (fullfile (root, "build_pairsolve.m"), folder);
  for part = {"host", "solver"}
    copyfile (fullfile (root, part{1}), fullfile (folder, part{1}));
  end
end

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
root = fileparts (which ("build_pairsolve"));

% A relative folder, from the current one.
build_pairsolve ("rel out");
check_module (fullfile (work, "rel out"));

% A checkout whose path holds a space, built into its default folder.
copy_checkout (root, fullfile (work, "my repo"));
rmpath (root);
addpath (fullfile (work, "my repo"));
if (! strcmp (which ("build_pairsolve"), fullfile (work, "my repo", "build_pairsolve.m")))
  error ("build_pairsolve resolves to %s, not to the copy under \"my repo\"", which ("build_pairsolve"));
end
build_pairsolve ();
check_module (fullfile (work, "my repo", "build"));

% A build that fails: the folder it made goes again.
copy_checkout (root, fullfile (work, "broken repo"));
delete (fullfile (work, "broken repo", "host", "mex_gateway.cpp"));
rmpath (fullfile (work, "my repo"));
addpath (fullfile (work, "broken repo"));
try
  build_pairsolve ("failed out");
  error ("build_pairsolve succeeded without the gateway's source");
catch failure
  if (! isempty (strfind (failure.message, "without the gateway")))
    rethrow (failure);
  end
end
if (exist (fullfile (work, "failed out"), "dir"))
  error ("the failed build left the folder \"failed out\" behind");
end
if (! strcmp (pwd, work))
  error ("the failed build left the current folder at %s", pwd);
end
printf ("build_pairsolve: a failed build removed the folder it had made\n");
