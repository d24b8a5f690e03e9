% Why forbidden pairs are marked with Inf and not NaN: with NaN the answer depends on the order of
% the rows.
%
% Three rows, two columns; row 2 may not take column 1. With more rows than columns the columns are
% reduced by their minima, starting from the first row. A NaN first in a column makes its minimum,
% and so the whole column, NaN, and nothing in it can be paired any more. Inf is a pair that the
% search avoids, wherever it stands.
%
% Run with the module on the path, e.g. from the repository root:
%   octave-cli --path build examples/nan_order.m
1;

function show(m)
  try
    fprintf('%-18s -> %s\n', mat2str(m), mat2str(pairsolve(m)));
  catch err
    fprintf('%-18s -> error %s\n', mat2str(m), err.identifier);
  end
end

withNaN = [2 3; NaN 1; 4 5];
withInf = [2 3; Inf 1; 4 5];
swap = [2 1 3];  % rows 1 and 2 swapped

show(withNaN)
show(withNaN(swap, :))
show(withInf)
show(withInf(swap, :))
