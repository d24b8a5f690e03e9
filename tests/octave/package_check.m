% The Octave package as a user meets it: scripts/octave-package.sh (what `make octave-package`
% runs) writes pairsolve-<version>.tar.gz; `pkg install` builds it with mkoctfile, `pkg load
% pairsolve` serves the function, with its help text, its test blocks (`test pairsolve`, `pkg test
% pairsolve`), the couriers example and the bit-for-bit comparison with the C++ library
% (matches_library.m); `pkg uninstall pairsolve` leaves nothing behind.
%
% Everything pkg writes goes to scratch folders: both prefixes, and both package lists, so that
% neither a user's packages nor, as root, the system's are touched; the test also checks that
% the lists and prefixes pkg would use by default are as they were.
%
% Environment: PAIRSOLVE_SOURCE_DIR, the repository; PAIRSOLVE_WORK_DIR, the scratch folder;
% PAIRSOLVE_SOLVE_FILE, the C++ library's file solver (for matches_library.m).
1;

function must (condition, varargin)
  if (! condition)
    error (varargin{:});
  end
end

% What a path holds, to tell afterwards that it was left alone: "" for nothing there.
function state = pathState (name)
  info = dir (name);
  if (isempty (info))
    state = "";
  else
    state = strjoin (cellfun (@(n, d, b) sprintf ("%s %g %d", n, d, b), {info.name},
                              {info.datenum}, {info.bytes}, "UniformOutput", false), "\n");
  end
end

% Names below a folder, the folder itself left out.
function names = contents (folder)
  names = setdiff (glob (fullfile (folder, "*")), {folder});
end

root = getenv ("PAIRSOLVE_SOURCE_DIR");
work = getenv ("PAIRSOLVE_WORK_DIR");
must (! isempty (root) && ! isempty (work) && ! isempty (getenv ("PAIRSOLVE_SOLVE_FILE")),
      "PAIRSOLVE_SOURCE_DIR, PAIRSOLVE_WORK_DIR and PAIRSOLVE_SOLVE_FILE must be set");
confirm_recursive_rmdir (false);
if (exist (work, "dir"))
  rmdir (work, "s");
end
mkdir (work);
cd (work);  % pkg test writes its log into the current folder

[status, output] = system (sprintf ('"%s/scripts/octave-package.sh" "%s"', root, work));
must (status == 0, "octave-package.sh failed:\n%s", output);
tarball = glob (fullfile (work, "pairsolve-*.tar.gz"));
must (numel (tarball) == 1, "octave-package.sh wrote %d packages", numel (tarball));
printf ("%s", output);

% The defaults, before anything is redirected.
defaults = {pkg("local_list"), pkg("global_list")};
[defaultPrefix, defaultArchPrefix] = pkg ("prefix");
defaults = [defaults, {defaultPrefix, defaultArchPrefix}];
before = cellfun (@pathState, defaults, "UniformOutput", false);

prefix = fullfile (work, "prefix");
archprefix = fullfile (work, "archprefix");
mkdir (prefix);
mkdir (archprefix);
pkg ("prefix", prefix, archprefix);
pkg ("local_list", fullfile (work, "local_list"));
pkg ("global_list", fullfile (work, "global_list"));

% The commands the README gives.
pkg ("install", tarball{1});
pkg ("load", "pairsolve");

module = which ("pairsolve");
must (strncmp (module, archprefix, numel (archprefix)) && regexp (module, '\.mex$', "once"),
      "pairsolve is %s, not the package's module under %s", module, archprefix);
helpText = evalc ("help pairsolve");
must (! isempty (strfind (helpText, "PAIRSOLVE  Optimal assignment of rows to columns")),
      "help pairsolve does not print the help text:\n%s", helpText);
[passed, total] = test ("pairsolve", "quiet");
must (total > 0 && passed == total, "test pairsolve: %d of %d passed", passed, total);
printf ("test pairsolve: %d of %d passed\n", passed, total);
suite = evalc ("pkg test pairsolve");
counts = regexp (suite, 'PASS\s+(\d+)\s+FAIL\s+(\d+)', "tokens", "once");
must (! isempty (counts) && str2double (counts{1}) > 0 && str2double (counts{2}) == 0,
      "pkg test pairsolve did not pass:\n%s", suite);
printf ("pkg test pairsolve: %s passed, %s failed\n", counts{:});

demo = evalc ("source (fullfile (root, 'examples', 'demo.m'))");
must (! isempty (regexp (demo, 'cost = 22\s', "once")) && ! isempty (strfind (demo, "total: 22 min")),
      "the couriers example does not cost 22:\n%s", demo);
printf ("the couriers example: cost 22\n");

setenv ("PAIRSOLVE_WORK_DIR", fullfile (work, "matches_library"));
source (fullfile (root, "tests", "octave", "matches_library.m"));
setenv ("PAIRSOLVE_WORK_DIR", work);

pkg ("uninstall", "pairsolve");
must (isempty (pkg ("list")), "packages still listed after pkg uninstall");
left = [contents(prefix); contents(archprefix)];
must (isempty (left), "pkg uninstall left %s", strjoin (left', ", "));
must (isempty (which ("pairsolve")), "pairsolve still found at %s", which ("pairsolve"));
after = cellfun (@pathState, defaults, "UniformOutput", false);
changed = defaults(! strcmp (before, after));
must (isempty (changed), "pkg changed %s", strjoin (changed, ", "));
printf ("pkg uninstall pairsolve left nothing behind\n");
