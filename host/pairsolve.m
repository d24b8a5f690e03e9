function [assignment, cost] = pairsolve(costMatrix)
%PAIRSOLVE  Optimal assignment of rows to columns (Hungarian method).
%   [ASSIGNMENT, COST] = PAIRSOLVE(COSTMATRIX) pairs the rows of the M-by-N
%   matrix COSTMATRIX with its columns: each row gets at most one column, each
%   column at most one row, min(M, N) pairs are made, and the sum of the costs
%   of the pairs is as small as possible. COSTMATRIX(i, j) is the cost of
%   pairing row i with column j, e.g. of giving job j to worker i.
%
%   COSTMATRIX   a real, full matrix of class double, two-dimensional, whose
%                finite elements are all >= 0. Any size, empty included.
%   ASSIGNMENT   an M-by-1 double column: ASSIGNMENT(i) is the column paired
%                with row i, or 0 when row i is left without one. When M > N,
%                at least M - N rows are 0.
%   COST         the sum of COSTMATRIX(i, ASSIGNMENT(i)) over the rows with
%                ASSIGNMENT(i) > 0; 0 when there is no pair.
%
%   The results do not depend on the number of outputs requested. An empty
%   0-by-N matrix gives a 0-by-1 ASSIGNMENT, an M-by-0 matrix gives M zeros;
%   COST is 0 in both cases.
%
%   Forbidden pairs
%   Inf (or -Inf) marks a pair that must not be made. The search uses as few
%   of them as it can; a row that could only be paired through one is
%   reported as 0 and adds nothing to COST, so pairsolve([1 Inf; Inf Inf])
%   gives [1; 0] and COST 1. A matrix without any finite element gives all
%   zeros. For the search, forbidden pairs stand in as 10 * (largest finite
%   element) * numel(COSTMATRIX); when finite costs are far smaller than that
%   value, differences between them below its rounding step can be lost.
%
%   NaN
%   A NaN element is never paired, but unlike Inf it is not worked around: a
%   NaN in the first column of a row (when M <= N) or in the first row of a
%   column (when M > N) leaves that whole row (column) without any pair it can
%   take. When the elements that are not NaN (Inf included) leave too few
%   pairs in distinct rows and columns to make min(M, N) of them, the call
%   ends with the error pairsolve:nanBlocksAssignment. Use Inf, not NaN, for
%   pairs that must not be made.
%
%   Which optimum
%   When several assignments share the smallest cost, the one returned is set
%   by the method's fixed order of search over rows and columns: the same on
%   every call and every machine, though not necessarily the first in any
%   simple order. pairsolve([3 1 1 2]) takes the first of the tied minima,
%   [2]; pairsolve([0 1 1; 1 1 2; 1 0 1]) gives [3; 1; 2] although [1; 2; 3]
%   costs 2 as well. Costs are added in double precision: the optimum is exact
%   whenever every cost and partial sum is exactly representable (e.g. whole
%   numbers below 2^53).
%
%   Errors (identifier, then cause)
%   (none)                          a finite element is negative: "All matrix
%                                   elements have to be non-negative."
%   pairsolve:nargin                not exactly one input
%   pairsolve:nargout               more than two outputs requested
%   pairsolve:inputType             not a real, full, double matrix (sparse,
%                                   complex, single, integer, logical, char,
%                                   cell, struct, ...)
%   pairsolve:inputSize             more than two dimensions, or more than
%                                   2^31 - 1 rows or columns
%   pairsolve:nanBlocksAssignment   NaN elements prevent a complete assignment
%   pairsolve:costOverflow          elements so large that the search
%                                   overflows; divide the matrix by a constant
%
%   Example 1: three workers (rows), three jobs (columns)
%       [assignment, cost] = pairsolve([4 1 3; 2 0 5; 3 2 2])
%       % assignment = [2; 1; 3], cost = 5
%
%   Example 2: three drivers, two routes; driver 2 may not take route 1
%       [assignment, cost] = pairsolve([4 6; Inf 3; 5 2])
%       % assignment = [1; 0; 2], cost = 6: driver 2 stays without a route
%
%   The function is a compiled module (pairsolve.mex in Octave, pairsolve.mex*
%   in MATLAB) built with "make" or build_pairsolve; this file holds its help
%   and, for Octave, its tests ("test pairsolve").

% This file only documents the module; the host calls the module, which lies in the same folder.
% Reaching this line means the module is missing there.
error('pairsolve:notBuilt', ...
      ['The compiled pairsolve module is not in the folder of this help file (%s); ' ...
       'build it with build_pairsolve or make.'], fileparts(mfilename('fullpath')));
end

% Known answers: the rules the help text states, and the edge cases of the method.

%!test
%! [a, c] = pairsolve ([4 1 3; 2 0 5; 3 2 2]);
%! assert (a, [2; 1; 3]);
%! assert (c, 5);

%!test  # the caller's matrix is read, never written
%! m = [4 1 3; 2 0 5; 3 2 2];
%! pairsolve (m);
%! assert (m, [4 1 3; 2 0 5; 3 2 2]);

%!test  # forbidden pairs, either sign of infinity
%! [a, c] = pairsolve ([-Inf 1; 2 3]);       assert ({a, c}, {[2; 1], 3});
%! [a, c] = pairsolve ([1 Inf; Inf 2]);      assert ({a, c}, {[1; 2], 3});
%! [a, c] = pairsolve ([1 Inf; Inf Inf]);    assert ({a, c}, {[1; 0], 1});
%! [a, c] = pairsolve ([Inf 1; Inf 2]);      assert ({a, c}, {[2; 0], 1});
%! [a, c] = pairsolve ([Inf -Inf; Inf Inf]); assert ({a, c}, {[0; 0], 0});
%! [a, c] = pairsolve ([4 6; Inf 3; 5 2]);   assert ({a, c}, {[1; 0; 2], 6});
%! [a, c] = pairsolve ([0 Inf 0; Inf 0 0]);  assert ({a, c}, {[1; 2], 0});

%!test  # NaN: never paired, never a minimum
%! [a, c] = pairsolve (NaN (2, 3));          assert ({a, c}, {[0; 0], 0});
%! [a, c] = pairsolve ([1 NaN]);             assert ({a, c}, {1, 1});
%! [a, c] = pairsolve ([0 NaN; 1 0]);        assert ({a, c}, {[1; 2], 0});

%!test  # empty and thin matrices
%! [a, c] = pairsolve ([]);                  assert ({a, c}, {zeros(0, 1), 0});
%! [a, c] = pairsolve (zeros (0, 3));        assert ({a, c}, {zeros(0, 1), 0});
%! [a, c] = pairsolve (zeros (3, 0));        assert ({a, c}, {[0; 0; 0], 0});
%! [a, c] = pairsolve ([3 1 1 2]);           assert ({a, c}, {2, 1});
%! [a, c] = pairsolve ([3; 1; 1; 2]);        assert ({a, c}, {[0; 1; 0; 0], 1});
%! [a, c] = pairsolve (7);                   assert ({a, c}, {1, 7});

%!test  # which optimum among equal costs
%! [a, c] = pairsolve ([2 1 0; 3 1 0]);            assert ({a, c}, {[2; 3], 1});
%! [a, c] = pairsolve ([2 2 1; 1 1 0; 0 2 2]);     assert ({a, c}, {[2; 3; 1], 2});
%! [a, c] = pairsolve ([0 1 1; 1 1 2; 1 0 1]);     assert ({a, c}, {[3; 1; 2], 2});
%! [a, c] = pairsolve ([1 0 1; 2 3 0; 2 1 2]);     assert ({a, c}, {[1; 3; 2], 2});
%! [a, c] = pairsolve (zeros (2));                 assert ({a, c}, {[1; 2], 0});
%! [a, c] = pairsolve (ones (3));                  assert ({a, c}, {[1; 2; 3], 3});
%! [a, c] = pairsolve ([5 1 9; 1 2 3]);            assert ({a, c}, {[2; 1], 2});
%! [a, c] = pairsolve ([5 1; 1 2; 0 0]);           assert ({a, c}, {[0; 1; 2], 1});
%! [a, c] = pairsolve ([-0 1; 1 -0]);              assert ({a, c}, {[1; 2], 0});

%!test  # a larger problem whose optimum is known: a shuffled diagonal of zeros in ones
%! p = [5 3 8 1 7 2 6 4];
%! m = ones (8);
%! m(sub2ind (size (m), 1:8, p)) = 0;
%! [a, c] = pairsolve (m);
%! assert ({a, c}, {p(:), 0});

%!error <All matrix elements have to be non-negative\.> pairsolve ([1 -1])
%!error <All matrix elements have to be non-negative\.> pairsolve ([Inf NaN; 0 -1e-300])
%!error id=pairsolve:nanBlocksAssignment pairsolve ([NaN NaN; 1 NaN])
%!error id=pairsolve:nanBlocksAssignment pairsolve ([NaN 1; 2 3])
%!error id=pairsolve:costOverflow pairsolve ([1e308 Inf; 1e308 Inf])
%!error id=pairsolve:nargin pairsolve ()
%!error id=pairsolve:nargin pairsolve (1, 2)
%!error id=pairsolve:nargout [a, b, c] = pairsolve (1)
%!error id=pairsolve:inputType pairsolve (single (1))
%!error id=pairsolve:inputType pairsolve (sparse (1))
%!error id=pairsolve:inputType pairsolve ([1+2i 3])
%!error id=pairsolve:inputSize pairsolve (ones (2, 2, 2))
