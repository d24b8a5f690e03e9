% Hostile inputs through the Octave module, one case per run: `octave-cli hostile_inputs.m CASE`
% runs the function hostile_CASE below (CTest registers one test per such function). Every case
% checks what the call gives or which error it ends with, that the caller's matrix is unchanged,
% and that Octave goes on working afterwards. The plain refusals (wrong numbers of inputs and
% outputs, each wrong class, sparse, complex, N-d) are checked by tests/octave/gateway_checks.m;
% the cases here add what lies around them.
1;

function check(condition, varargin)
  if (! condition)
    error ("hostile:check", varargin{:});
  end
end

% Bit patterns, so that NaN equals NaN and -0 differs from 0.
function bits = bitsOf(x)
  bits = typecast (double (x(:)), "uint64");
end

% A copy that owns its data: Octave shares the data of a plain copy with the original, so a module
% writing into its input would change both and a comparison with a plain copy would not see it.
function copy = ownCopy(x)
  copy = x;
  if (! isempty (copy))
    copy(1) = copy(1);
  end
end

% Equal down to the bits for real full arrays (so NaN matches NaN), isequal for anything else.
function same = sameContents(x, y)
  if (isfloat (x) && isreal (x) && ! issparse (x))
    same = strcmp (class (x), class (y)) && isequal (size (x), size (y)) ...
           && isequal (bitsOf (x), bitsOf (y));
  else
    same = isequal (x, y);
  end
end

% The call must succeed with exactly this assignment and cost, for one output and for two, and
% leave its input as it was.
function expectSolved(m, assignment, cost, what)
  before = ownCopy (m);
  [a, c] = pairsolve (m);
  check (isequal (size (a), [rows(m) 1]) && isa (a, "double") && isreal (a),
         "%s: the assignment is a %s %s", what, mat2str (size (a)), class (a));
  wrong = find (bitsOf (a) != bitsOf (assignment), 1);
  check (isempty (wrong), "%s: row %d assigned %g, expected %g", what, wrong, a(wrong),
         assignment(wrong));
  check (isscalar (c) && isequal (bitsOf (c), bitsOf (cost)), "%s: cost %.17g, expected %.17g",
         what, c, cost);
  check (isequal (bitsOf (pairsolve (m)), bitsOf (a)), "%s: one output differs from two", what);
  check (sameContents (m, before), "%s: the input changed", what);
end

% The call must end with this identifier and a message containing the given part; no output may
% be assigned, the input stays as it was, and the next call works.
function expectRefused(args, id, part, what)
  before = cellfun (@ownCopy, args, "UniformOutput", false);
  clear a c;
  try
    [a, c] = pairsolve (args{:});
    error ("hostile:check", "%s: accepted", what);
  catch err
    check (strcmp (err.identifier, id), "%s: identifier \"%s\", expected \"%s\" (%s)", what,
           err.identifier, id, err.message);
    check (! isempty (strfind (err.message, part)), "%s: message \"%s\" lacks \"%s\"", what,
           err.message, part);
  end
  check (! exist ("a", "var") && ! exist ("c", "var"), "%s: an output was assigned", what);
  check (all (cellfun (@sameContents, args, before)), "%s: the input changed", what);
  [a, c] = pairsolve ([4 1 3; 2 0 5; 3 2 2]);
  check (isequal (a, [2; 1; 3]) && c == 5, "%s: the next call went wrong", what);
end

% Every wrong class is refused before the shape is looked at, so an empty array of a wrong class
% is refused like a full one; objects are refused by their class name.
function hostile_classes_empty_and_objects()
  empties = {single([]), int8(zeros(0, 3)), uint16(zeros(3, 0)), int64([]), logical([]), "", ...
             cell(0, 3), struct([]), sparse(zeros(0, 3)), complex(zeros(0, 3), zeros(0, 3))};
  for k = 1:numel (empties)
    x = empties{k};
    expectRefused ({x}, "pairsolve:inputType", class (x),
                   sprintf ("empty %s %s", class (x), mat2str (size (x))));
  end
  expectRefused ({containers.Map()}, "pairsolve:inputType", "containers.Map", "an object");
  expectRefused ({{[1 2; 3 4]}}, "pairsolve:inputType", "cell", "a matrix inside a cell");
end

% Octave drops an imaginary part that is all zero before the call; complex() keeps it.
function hostile_complex()
  m = [4 1 3; 2 0 5; 3 2 2];
  expectSolved (m + 0i, [2; 1; 3], 5, "narrowed complex");
  expectRefused ({complex(m, 0)}, "pairsolve:inputType", "complex", "complex with zero imaginary");
  expectRefused ({m + 1i}, "pairsolve:inputType", "complex", "complex");
end

% Trailing singleton dimensions are not dimensions; any other third dimension is, even of size 0,
% and so are row or column counts beyond what the solver indexes (these cost Octave no memory).
function hostile_dimensions()
  expectSolved (ones (2, 2, 1), [1; 2], 2, "2 x 2 x 1");
  expectRefused ({ones(1, 1, 2)}, "pairsolve:inputSize", "3 dimensions", "1 x 1 x 2");
  expectRefused ({zeros(0, 3, 2)}, "pairsolve:inputSize", "3 dimensions", "0 x 3 x 2");
  expectRefused ({zeros(1, 0, 0)}, "pairsolve:inputSize", "3 dimensions", "1 x 0 x 0");
  expectRefused ({zeros(2, 2, 1, 2)}, "pairsolve:inputSize", "4 dimensions", "2 x 2 x 1 x 2");
  expectRefused ({zeros(2^31, 0)}, "pairsolve:inputSize", "2147483648 rows", "2^31 x 0");
  expectRefused ({zeros(0, 2^31)}, "pairsolve:inputSize", "2147483648 columns", "0 x 2^31");
end

% Empty shapes: an M x 1 column of zeros (0 x 1 when M is 0) and cost 0, without an error.
function hostile_empty_shapes()
  shapes = {[], zeros(0, 0), zeros(0, 5), zeros(5, 0), zeros(1, 0), zeros(0, 1)};
  for k = 1:numel (shapes)
    m = shapes{k};
    expectSolved (m, zeros (rows (m), 1), 0, sprintf ("empty %s", mat2str (size (m))));
  end
end

% NaN only: nothing is finite, so nothing is paired, in any shape; NaN beside finite elements is
% solved around when it can be, and refused by name when it leaves too few usable pairs.
function hostile_nan_only()
  expectSolved (NaN, 0, 0, "NaN");
  expectSolved (NaN (3, 4), zeros (3, 1), 0, "3 x 4 NaN");
  expectSolved (NaN (4, 3), zeros (4, 1), 0, "4 x 3 NaN");
  expectSolved ([0 NaN; 1 0], [1; 2], 0, "NaN avoided");
  expectSolved ([1 NaN], 1, 1, "NaN after the row's minimum");
  expectRefused ({[1 NaN; 2 NaN]}, "pairsolve:nanBlocksAssignment",
                 "NaN elements prevent a complete assignment.", "two rows, one usable column");
  expectRefused ({[NaN NaN; 1 NaN]}, "pairsolve:nanBlocksAssignment",
                 "NaN elements prevent a complete assignment.", "a NaN heading a row");
end

% Infinities only, of either sign and mixed with NaN: no finite element, so nothing is paired.
function hostile_infinities_only()
  expectSolved (Inf, 0, 0, "Inf");
  expectSolved (-Inf (3, 2), zeros (3, 1), 0, "3 x 2 -Inf");
  expectSolved ([Inf -Inf; -Inf Inf], [0; 0], 0, "mixed signs");
  expectSolved ([Inf NaN Inf; NaN -Inf NaN], [0; 0], 0, "infinities and NaN");
end

% Huge finite values beside infinities. Forbidden pairs are replaced by 10 * (largest finite) *
% (number of elements); when that overflows and a row can only be paired through one, the call
% ends with the overflow error. A sum of huge costs overflows to Inf like any sum of doubles.
function hostile_huge_with_infinities()
  expectRefused ({[1e308 Inf; 1e308 Inf]}, "pairsolve:costOverflow",
                 "Matrix elements are too large to solve; scale the matrix down.",
                 "forbidden pairs needed, their value overflowed");
  expectRefused ({[realmax realmax; Inf Inf]}, "pairsolve:costOverflow",
                 "Matrix elements are too large to solve; scale the matrix down.",
                 "a row of forbidden pairs at overflow");
  expectSolved ([1e300 Inf; Inf 1e300], [1; 2], 2e300, "huge, forbidden value still finite");
  expectSolved ([realmax Inf; 1 realmax], [1; 2], Inf, "forbidden avoided, the sum overflows");
  expectSolved ([realmax realmax; realmax realmax], [1; 2], Inf, "no infinities, sum overflows");
  expectSolved ([1 1e300; -Inf Inf], [1; 0], 1, "a row left with forbidden pairs only");
end

% The long thin shapes: one row takes the first of its tied minima; one column is taken by the
% first of its tied minima.
function hostile_row_1e6()
  rand ("state", 61);
  m = 1 + rand (1, 1e6);
  m([654321 123456 999999]) = 0.5;
  tic;
  expectSolved (m, 123456, 0.5, "1 x 10^6");
  printf ("1 x 10^6: %.2f s for both calls\n", toc);
end

function hostile_column_1e6()
  rand ("state", 62);
  m = 1 + rand (1e6, 1);
  m([700000 300000]) = 0.25;
  expected = zeros (1e6, 1);
  expected(300000) = 1;
  tic;
  expectSolved (m, expected, 0.25, "10^6 x 1");
  printf ("10^6 x 1: %.2f s for both calls\n", toc);
end

% 10 x 10^6, 10^7 elements, with a search: every row has its minimum 0 in the same column, so one
% star comes from seeding and nine from the search. Then the optimum is known: the shared column
% goes to the row whose best other column costs most, every other row takes its own best column
% (random values, so no two of those coincide).
function hostile_wide_10x1e6()
  rand ("state", 63);
  m = 1 + rand (10, 1e6);
  shared = 777777;
  m(:, shared) = 0;
  others = m;
  others(:, shared) = Inf;
  [best, bestColumn] = min (others, [], 2);
  check (numel (unique (bestColumn)) == 10, "the rows' best columns coincide; pick another seed");
  [~, loser] = max (best);
  expected = bestColumn;
  expected(loser) = shared;
  cost = 0;
  for r = 1:10
    cost = cost + m(r, expected(r));  % row by row, as the module adds up
  end
  tic;
  expectSolved (m, expected, cost, "10 x 10^6");
  printf ("10 x 10^6: %.2f s for both calls\n", toc);
end

cases = argv ();
check (numel (cases) == 1, "usage: hostile_inputs.m CASE");
feval (["hostile_" cases{1}]);
printf ("hostile input case %s: as expected\n", cases{1});
