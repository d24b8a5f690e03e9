% The module as Octave sees it: the shape and class of its outputs, results that do not depend on
% the number of outputs asked for, the help text beside it, and every input it refuses, each with
% its identifier and a message naming the problem, after which Octave goes on working.
1;

function expectSameBits(a, b, what)
  if (! isequal (size (a), size (b)) || ! isequal (typecast (a(:), "uint64"), typecast (b(:), "uint64")))
    error ("%s: %s differs from %s", what, mat2str (a), mat2str (b));
  end
end

function check(condition, varargin)
  if (! condition)
    error (varargin{:});
  end
end

% Octave puts "pairsolve: " in front of a module's message.
function text = messageOf(err)
  text = regexprep (err.message, '^pairsolve: ', '');
end

classic = [4 1 3; 2 0 5; 3 2 2];
rand ("state", 1);

% Outputs: an M x 1 real full double column and a real double scalar, whatever the shape; one
% output and none (the answer goes to ans) give the very same assignment as two.
shapes = {classic, zeros(0, 0), zeros(0, 4), zeros(3, 0), [3 1 1 2], [3; 1; 1; 2], ...
          rand(5, 9), rand(9, 5), [Inf 1; Inf 2], NaN(2, 3)};
for k = 1:numel (shapes)
  m = shapes{k};
  what = sprintf ("matrix %d (%d x %d)", k, rows (m), columns (m));
  [a, c] = pairsolve (m);
  check (isequal (size (a), [rows(m) 1]), "%s: assignment is %s", what, mat2str (size (a)));
  check (isa (a, "double") && isreal (a) && ! issparse (a), "%s: assignment class", what);
  check (isequal (size (c), [1 1]), "%s: cost is %s", what, mat2str (size (c)));
  check (isa (c, "double") && isreal (c) && ! issparse (c), "%s: cost class", what);
  a1 = pairsolve (m);
  expectSameBits (a1, a, [what ", one output"]);
  pairsolve (m);
  expectSameBits (ans, a, [what ", no output"]);
end
% Rows of a random matrix go to distinct columns, min(M, N) of them.
for m = {rand(5, 9), rand(9, 5)}
  a = pairsolve (m{1});
  paired = a(a > 0);
  check (numel (paired) == min (size (m{1})), "%d pairs in a %s matrix", numel (paired), mat2str (size (m{1})));
  check (numel (unique (paired)) == numel (paired), "a column paired twice: %s", mat2str (a));
end

% The help text beside the module is the one Octave shows.
helpText = get_help_text ("pairsolve");
for part = {"[ASSIGNMENT, COST] = PAIRSOLVE(COSTMATRIX)", "Forbidden pairs", "NaN", ...
            "Which optimum", "pairsolve:inputType", "Example 2"}
  check (! isempty (strfind (helpText, part{1})), "help text lacks \"%s\"", part{1});
end

% Refused inputs: {inputs, outputs asked for, identifier, part of the message}.
refused = {
  {},                         1, "pairsolve:nargin",   "got 0"
  {classic, classic},         1, "pairsolve:nargin",   "got 2"
  {classic},                  3, "pairsolve:nargout",  "3 requested"
  {sparse(classic)},          1, "pairsolve:inputType", "double, sparse"
  {sparse(classic > 2)},      1, "pairsolve:inputType", "logical, sparse"
  {complex(classic, 0)},      1, "pairsolve:inputType", "double, complex"
  {single(classic)},          1, "pairsolve:inputType", "single"
  {int8(classic)},            1, "pairsolve:inputType", "int8"
  {uint8(classic)},           1, "pairsolve:inputType", "uint8"
  {int16(classic)},           1, "pairsolve:inputType", "int16"
  {uint16(classic)},          1, "pairsolve:inputType", "uint16"
  {int32(classic)},           1, "pairsolve:inputType", "int32"
  {uint32(classic)},          1, "pairsolve:inputType", "uint32"
  {int64(classic)},           1, "pairsolve:inputType", "int64"
  {uint64(classic)},          1, "pairsolve:inputType", "uint64"
  {classic > 2},              1, "pairsolve:inputType", "logical"
  {"abc"},                    1, "pairsolve:inputType", "char"
  {{1, 2}},                   1, "pairsolve:inputType", "cell"
  {struct("a", 1)},           1, "pairsolve:inputType", "struct"
  {@sin},                     1, "pairsolve:inputType", "function_handle"
  {ones(2, 2, 2)},            1, "pairsolve:inputSize", "3 dimensions"
  {zeros(2, 0, 3)},           1, "pairsolve:inputSize", "3 dimensions"
  {[1 -1]},                   2, "", "All matrix elements have to be non-negative."
  {[NaN NaN; 1 NaN]},         2, "pairsolve:nanBlocksAssignment", "NaN elements prevent a complete assignment."
  {[1e308 Inf; 1e308 Inf]},   2, "pairsolve:costOverflow", "Matrix elements are too large to solve; scale the matrix down."
};
keepMe = magic (4);
for k = 1:rows (refused)
  [inputs, nout, id, part] = refused{k, :};
  what = sprintf ("refused case %d (%s)", k, id);
  outputs = cell (1, nout);
  failed = false;
  try
    [outputs{:}] = pairsolve (inputs{:});
  catch err
    failed = true;
    check (strcmp (err.identifier, id), "%s: identifier \"%s\"", what, err.identifier);
    check (! isempty (strfind (messageOf (err), part)), "%s: message \"%s\"", what, err.message);
    if (any (strcmp (id, {"", "pairsolve:nanBlocksAssignment", "pairsolve:costOverflow"})))
      % the solver's messages come through whole
      check (strcmp (messageOf (err), part), "%s: message \"%s\"", what, err.message);
    end
  end
  check (failed, "%s was not refused", what);
  % Octave goes on working, with the module loaded and the workspace intact.
  [a, c] = pairsolve (classic);
  check (isequal ({a, c}, {[2; 1; 3], 5}), "%s: the next call gave %s, %g", what, mat2str (a), c);
  check (isequal (keepMe, magic (4)), "%s: the workspace changed", what);
end

printf ("gateway checks: %d shapes, %d refused inputs, all as expected\n", numel (shapes), rows (refused));
