% Times pairsolve inside Octave on the matrix files of bench/bench.py, and writes the module's
% answers in the file solver's answer format so that the script can compare them with the C++
% library bit for bit.
%
% One Octave process serves the whole run, and the script hands it each problem right after the
% other peers have solved it, so that all peers are timed close together under the same load of
% the machine. Requests are files in the folder PAIRSOLVE_PEERS_REQUESTS: request-1, request-2, ...
% (each renamed into place once complete). A request holds one line per matrix file, its fields
% separated by tabs:  <matrices> <answers> <rounds> <samples> <layout>;  or the single word "done",
% which ends the process.
%
% Each sample is one tic/toc. Layout "loop": `rounds` passes over all matrices of the file, one call
% per matrix and pass; "plain": `rounds` calls in a row on one matrix, the next matrix at each
% sample. The loop is the one a caller's script would run, so the time per call includes the
% interpreter's share. Standard output gets, per matrix file, the line
%   octave_seconds <answers> <seconds per call of sample 1> ... <seconds per call of sample n>
% and after the last file of a request "octave_request <k>", fields separated by tabs.
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

function timeFile(fields)
  matrices = readMatrices (fields{1});
  rounds = str2double (fields{3});
  samples = str2double (fields{4});
  count = numel (matrices);

  seconds = zeros (1, samples);
  if (strcmp (fields{5}, "loop"))
    for s = 1:samples
      started = tic ();
      for r = 1:rounds
        for k = 1:count
          [assignment, cost] = pairsolve (matrices{k});
        end
      end
      seconds(s) = toc (started) / (rounds * count);
    end
  else
    for s = 1:samples
      matrix = matrices{mod(s - 1, count) + 1};
      started = tic ();
      for r = 1:rounds
        [assignment, cost] = pairsolve (matrix);
      end
      seconds(s) = toc (started) / rounds;
    end
  end

  % The answers come from one more pass, outside the timing.
  assignments = cell (count, 1);
  costs = zeros (count, 1);
  for k = 1:count
    [assignments{k}, costs(k)] = pairsolve (matrices{k});
  end
  writeAnswers (fields{2}, assignments, costs);
  printf ("octave_seconds\t%s%s\n", fields{2}, sprintf ("\t%.9e", seconds));
end

requests = getenv ("PAIRSOLVE_PEERS_REQUESTS");
if (isempty (requests))
  error ("PAIRSOLVE_PEERS_REQUESTS must name the folder of requests");
end

% One call before any timing, so that loading the module is not charged to the first problem.
pairsolve (1);

for k = 1:Inf
  request = fullfile (requests, sprintf ("request-%d", k));
  % Waiting costs one stat call every 20 ms while the other peers are timed.
  while (isempty (stat (request)))
    pause (0.02);
  end
  entries = strsplit (strtrim (fileread (request)), "\n");
  if (strcmp (entries{1}, "done"))
    break;
  end
  for e = 1:numel (entries)
    timeFile (strsplit (strtrim (entries{e}), "\t"));
  end
  printf ("octave_request\t%d\n", k);
  fflush (stdout);
end
