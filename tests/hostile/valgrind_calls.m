% A handful of small calls for the module under valgrind: solved matrices of each shape, the
% matrices that end before or during the search, and every kind of error, the gateway's included.
% Each result is checked too, so that a module that misbehaves only under valgrind shows. The last
% line printed tells the verdict script that every call was made.
1;

function expectError(id, varargin)
  try
    [a, c] = pairsolve (varargin{:});
    error ("valgrind_calls:accepted", "a call that should end with %s returned", id);
  catch err
    if (! strcmp (err.identifier, id))
      error ("valgrind_calls:identifier", "identifier %s, expected %s", err.identifier, id);
    end
  end
end

function expectResult(m, assignment, cost)
  [a, c] = pairsolve (m);
  if (! isequal (a, assignment) || ! isequal (c, cost))
    error ("valgrind_calls:result", "%s gave %s, %g", mat2str (m), mat2str (a), c);
  end
end

expectResult ([4 1 3; 2 0 5; 3 2 2], [2; 1; 3], 5);
expectResult ([0 1 1; 1 1 2; 1 0 1], [3; 1; 2], 2);
expectResult ([5 1 9; 1 2 3], [2; 1], 2);
expectResult ([5 1; 1 2; 0 0], [0; 1; 2], 1);
expectResult ([1 Inf; Inf Inf], [1; 0], 1);
expectResult ([Inf -Inf; Inf Inf], [0; 0], 0);
expectResult (NaN (2, 3), [0; 0], 0);
expectResult (zeros (0, 3), zeros (0, 1), 0);
expectResult (zeros (3, 0), zeros (3, 1), 0);
rand ("state", 5);
m = floor (10 * rand (20, 30));
[a, c] = pairsolve (m);
if (numel (unique (a)) != 20 || c != sum (m(sub2ind (size (m), (1:20)', a))))
  error ("valgrind_calls:result", "20 x 30: %s, %g", mat2str (a), c);
end
pairsolve (m');
expectError ("", [1 2; 3 -1]);
expectError ("pairsolve:nanBlocksAssignment", [1 NaN; 2 NaN]);
expectError ("pairsolve:costOverflow", [1e308 Inf; 1e308 Inf]);
expectError ("pairsolve:nargin");
expectError ("pairsolve:nargin", 1, 2);
expectError ("pairsolve:inputType", single ([1 2]));
expectError ("pairsolve:inputType", sparse ([1 2]));
expectError ("pairsolve:inputType", [1 2] + 1i);
expectError ("pairsolve:inputSize", ones (2, 2, 2));
try
  [a, b, c] = pairsolve (1);
  error ("valgrind_calls:accepted", "three outputs were given");
catch err
  if (! strcmp (err.identifier, "pairsolve:nargout"))
    error ("valgrind_calls:identifier", "identifier %s, not pairsolve:nargout", err.identifier);
  end
end
printf ("valgrind calls: all made\n");
