% Times pairsolve inside Octave on the matrix files compare_peers.py wrote, in one Octave process,
% and writes the module's answers in the file solver's answer format so that the script can compare
% them with the C++ library bit for bit.
%
% Environment: PAIRSOLVE_PEERS_MANIFEST, a text file with one line per matrix file, its fields
% separated by tabs:  <matrices> <answers> <rounds> <samples>
% Each sample is one tic/toc around `rounds` passes over all matrices of the file, one call per
% matrix and pass; the loop is the one a caller's script would run, so the time per call includes
% the interpreter's share. Standard output gets one line per file, its fields separated by tabs:
%   octave_seconds <answers> <seconds per call of sample 1> ... <seconds per call of sample n>
1;

function matrices = readMatrices(path)
  fid = fopen (path, "r");
  if (fid < 0)
    error ("cannot open %s", path);
  end
  count = fread (fid, 1, "uint64=>double");
  matrices = cell (count, 1);
  for k = 1:count
    dims = fread (fid, 2, "int32=>double");
    matrices{k} = reshape (fread (fid, prod (dims), "double=>double"), dims(1), dims(2));
  end
  fclose (fid);
end

function writeAnswers(path, assignments, costs)
  fid = fopen (path, "w");
  fwrite (fid, numel (assignments), "uint64");
  for k = 1:numel (assignments)
    fwrite (fid, 0, "uint8");       % the call did not fail
    fwrite (fid, [0 0], "uint32");  % no error identifier, no message
    fwrite (fid, numel (assignments{k}), "int32");
    fwrite (fid, assignments{k}, "double");
    fwrite (fid, costs(k), "double");
  end
  fclose (fid);
end

manifest = getenv ("PAIRSOLVE_PEERS_MANIFEST");
if (isempty (manifest))
  error ("PAIRSOLVE_PEERS_MANIFEST must name the manifest");
end
entries = strsplit (strtrim (fileread (manifest)), "\n");

% One call before any timing, so that loading the module is not charged to the first file.
pairsolve (1);

for e = 1:numel (entries)
  fields = strsplit (strtrim (entries{e}), "\t");
  matrices = readMatrices (fields{1});
  rounds = str2double (fields{3});
  samples = str2double (fields{4});
  count = numel (matrices);

  seconds = zeros (1, samples);
  for s = 1:samples
    started = tic ();
    for r = 1:rounds
      for k = 1:count
        [assignment, cost] = pairsolve (matrices{k});
      end
    end
    seconds(s) = toc (started) / (rounds * count);
  end

  % The answers come from one more pass, outside the timing.
  assignments = cell (count, 1);
  costs = zeros (count, 1);
  for k = 1:count
    [assignments{k}, costs(k)] = pairsolve (matrices{k});
  end
  writeAnswers (fields{2}, assignments, costs);
  printf ("octave_seconds\t%s%s\n", fields{2}, sprintf ("\t%.9e", seconds));
  fflush (stdout);
end
