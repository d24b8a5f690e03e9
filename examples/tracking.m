% pairsolve for tracking: which detection of the new frame continues which track.
%
% tracks holds the positions the tracks are predicted at, detections the positions measured in the
% new frame (x and y in metres). The cost of continuing track i with detection j is their distance;
% a detection farther than the gate from a track cannot belong to it (Inf). A track left without a
% detection gets 0; a detection no track takes may start a new track.
%
% Tracks 2 and 3 are both nearest to detection 2; giving it to each track's nearest would pair it
% twice. pairsolve gives it to track 3 and detection 3 to track 2, the smallest total distance.
%
% Run with the module on the path, e.g. from the repository root:
%   octave-cli --path build examples/tracking.m
tracks     = [1.0 1.0; 4.0 2.0; 4.8 2.9; 9.0 9.0];       % predicted x, y (m)
detections = [1.3 0.8; 4.5 2.4; 3.4 1.7; 5.6 3.5; 12.0 3.0];
gate = 1.5;

dx = tracks(:, 1) - detections(:, 1)';
dy = tracks(:, 2) - detections(:, 2)';
distance = sqrt(dx.^2 + dy.^2);
distance(distance > gate) = Inf;

[assignment, cost] = pairsolve(distance)

for track = 1:size(tracks, 1)
  detection = assignment(track);
  if detection > 0
    fprintf('track %d continues with detection %d (%.2f m)\n', track, detection, ...
            distance(track, detection));
  else
    fprintf('track %d: no detection within %.1f m\n', track, gate);
  end
end
fprintf('detections for new tracks: %s\n', ...
        mat2str(setdiff(1:size(detections, 1), assignment)));
