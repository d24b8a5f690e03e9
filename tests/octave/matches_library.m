% A few thousand random matrices solved by the module inside Octave and by the C++ library (the file
% solver pairsolve_solve_file, in one process), compared bit for bit: assignment and cost, or for a
% call that ends with an error, its identifier and message. One output and two must also agree.
%
% Environment: PAIRSOLVE_SOLVE_FILE, the file solver; PAIRSOLVE_WORK_DIR, where the files go.
1;

% Whole numbers from lo to hi, in an array of the given size (randi is slow in Octave's loops).
function v = whole(lo, hi, varargin)
  v = lo + floor (rand (varargin{:}) * (hi - lo + 1));
end

% Sizes mostly up to 8 x 8, where ties and forbidden pairs interact most; some empty, some larger.
function m = randomMatrix()
  shape = rand ();
  if (shape < 0.04)
    dims = whole (0, 6, 1, 2);
    dims(whole (1, 2)) = 0;
  elseif (shape < 0.10)
    dims = whole (10, 40, 1, 2);
  else
    dims = whole (1, 8, 1, 2);
  end
  M = dims(1);
  N = dims(2);
  switch (whole (1, 10))
    case {1, 2}  % few distinct values: many ties
      m = whole (0, 3, M, N);
    case 3
      m = whole (0, 1000, M, N);
    case 4
      m = rand (M, N) * 10 ^ whole (-6, 6);
    case 5  % magnitudes far apart
      m = rand (M, N) .* 10 .^ whole (-8, 8, M, N);
    case 6  % forbidden pairs
      m = whole (0, 5, M, N);
      m(rand (M, N) < 0.25) = Inf;
      m(rand (M, N) < 0.05) = -Inf;
    case 7  % NaN: some searches end with pairsolve:nanBlocksAssignment
      m = whole (0, 5, M, N) + rand (M, N);
      m(rand (M, N) < 0.12) = NaN;
    case 8  % negative zeros among zeros
      m = whole (0, 2, M, N);
      m(m == 0 & rand (M, N) < 0.5) = -0;
    case 9  % near the top of the double range, with forbidden pairs: overflows
      m = rand (M, N) * 1e307;
      m(rand (M, N) < 0.6) = Inf;
    otherwise  % one negative element among valid ones, now and then
      m = rand (M, N) * 50;
      if (numel (m) > 0 && rand () < 0.3)
        m(whole (1, numel (m))) = -rand ();
      end
  end
end

function [value, at] = take(bytes, at, count, type, width)
  value = typecast (bytes(at:at + count * width - 1), type);
  at += count * width;
end

function [text, at] = takeText(bytes, at)
  [n, at] = take (bytes, at, 1, "uint32", 4);
  text = reshape (char (bytes(at:at + double (n) - 1)), 1, []);
  at += double (n);
end

tool = getenv ("PAIRSOLVE_SOLVE_FILE");
work = getenv ("PAIRSOLVE_WORK_DIR");
if (isempty (tool) || isempty (work))
  error ("PAIRSOLVE_SOLVE_FILE and PAIRSOLVE_WORK_DIR must be set");
end
if (! exist (work, "dir"))
  mkdir (work);
end
matrixFile = fullfile (work, "matrices.bin");
answerFile = fullfile (work, "answers.bin");

count = 3000;
rand ("state", 20240607);
matrices = cell (count, 1);
assignments = cell (count, 1);
costs = zeros (count, 1);
failed = false (count, 1);
identifiers = cell (count, 1);
messages = cell (count, 1);
for k = 1:count
  m = randomMatrix ();
  matrices{k} = m;
  try
    [assignments{k}, costs(k)] = pairsolve (m);
  catch err
    failed(k) = true;
    identifiers{k} = reshape (err.identifier, 1, []);  % "" and a 1 x 0 text differ for strcmp
    messages{k} = regexprep (err.message, '^pairsolve: ', '');
  end
  if (! failed(k))
    one = pairsolve (m);
    if (! isequal (typecast (one, "uint64"), typecast (assignments{k}, "uint64")))
      error ("matrix %d: one output gives %s, two give %s", k, mat2str (one), mat2str (assignments{k}));
    end
  end
end

% The solver's own file format, in this machine's byte order.
fid = fopen (matrixFile, "w");
fwrite (fid, count, "uint64");
for k = 1:count
  fwrite (fid, size (matrices{k}), "int32");
  fwrite (fid, matrices{k}(:), "double");
end
fclose (fid);
[status, output] = system (sprintf ('"%s" "%s" "%s"', tool, matrixFile, answerFile));
if (status != 0)
  error ("%s failed (%d): %s", tool, status, output);
end
fid = fopen (answerFile, "r");
bytes = fread (fid, Inf, "uint8=>uint8");
fclose (fid);

at = 1;
[n, at] = take (bytes, at, 1, "uint64", 8);
if (n != count)
  error ("the library answered %d matrices of %d", n, count);
end
differences = 0;
for k = 1:count
  [libFailed, at] = take (bytes, at, 1, "uint8", 1);
  [libId, at] = takeText (bytes, at);
  [libMessage, at] = takeText (bytes, at);
  [libRows, at] = take (bytes, at, 1, "int32", 4);
  [libAssignment, at] = take (bytes, at, double (libRows), "uint64", 8);
  [libCost, at] = take (bytes, at, 1, "uint64", 8);
  if (failed(k))
    same = libFailed && strcmp (libId, identifiers{k}) && strcmp (libMessage, messages{k});
    octave = sprintf ("error %s \"%s\"", identifiers{k}, messages{k});
  else
    same = ! libFailed && libRows == rows (matrices{k}) ...
           && isequal (libAssignment(:), typecast (assignments{k}, "uint64")) ...
           && libCost == typecast (costs(k), "uint64");
    octave = sprintf ("%s, cost %.17g", mat2str (assignments{k}), costs(k));
  end
  if (! same)
    differences += 1;
    if (differences <= 5)
      if (libFailed)
        library = sprintf ("error %s \"%s\"", libId, libMessage);
      else
        library = sprintf ("%s, cost %.17g", mat2str (typecast (libAssignment(:), "double")), ...
                           typecast (libCost, "double"));
      end
      printf ("matrix %d %s: Octave %s; library %s\n", k, mat2str (matrices{k}), octave, library);
    end
  end
end
if (at != numel (bytes) + 1)
  error ("%d bytes left after the last answer", numel (bytes) + 1 - at);
end

% The draw must reach every road through the solver, or the comparison proves less than it says.
solved = sum (! failed);
paired = sum (cellfun (@(a) any (a > 0), assignments(! failed)));
printf ("%d matrices (%d solved, %d with a pair), errors: %d negative, %d NaN, %d overflow; %d differences\n",
        count, solved, paired, sum (failed & strcmp (identifiers, "")),
        sum (strcmp (identifiers, "pairsolve:nanBlocksAssignment")),
        sum (strcmp (identifiers, "pairsolve:costOverflow")), differences);
if (differences > 0)
  error ("the module and the library differ on %d matrices", differences);
end
if (paired < 2000 || any ([sum(failed & strcmp(identifiers, "")), ...
                           sum(strcmp(identifiers, "pairsolve:nanBlocksAssignment")), ...
                           sum(strcmp(identifiers, "pairsolve:costOverflow"))] < 10))
  error ("the random draw no longer covers every outcome");
end
