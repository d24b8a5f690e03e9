% pairsolve in Octave: four couriers, three deliveries.
%
% minutes(i, j) is the time courier i needs for delivery j. Courier 3 is nearest to delivery 1 but
% has no cooling box for it, so that pair is forbidden (Inf). Each delivery goes to one courier,
% each courier takes at most one, and the total time is to be as short as possible. One courier
% stays free: 0 in the assignment.
%
% Run with the module on the path, e.g. from the repository root:
%   octave-cli --path build examples/demo.m
minutes = [12   7  20
            9  14  11
          Inf  10   6
           15   8   9];

[assignment, cost] = pairsolve(minutes)

for courier = 1:rows(minutes)
  delivery = assignment(courier);
  if delivery > 0
    printf('courier %d takes delivery %d (%g min)\n', courier, delivery, minutes(courier, delivery));
  else
    printf('courier %d stays free\n', courier);
  end
end
printf('total: %g min\n', cost);
