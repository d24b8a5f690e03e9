function build_pairsolve(outputFolder)
%BUILD_PAIRSOLVE  Compile the pairsolve module with this host's own mex command.
%   BUILD_PAIRSOLVE builds the module into the folder "build" beside this file
%   and copies pairsolve.m (its help text) next to it. Then
%       addpath(fullfile(<folder of this file>, 'build'))
%       [assignment, cost] = pairsolve([4 1 3; 2 0 5; 3 2 2])
%
%   BUILD_PAIRSOLVE(OUTPUTFOLDER) builds into OUTPUTFOLDER instead; a relative
%   folder is taken from the current folder. Folder names may hold spaces.
%
%   In MATLAB a C++ compiler must be set up ("mex -setup C++"); in GNU Octave
%   the mex command needs mkoctfile (Debian: apt-get install liboctave-dev).

root = fileparts(mfilename('fullpath'));
if nargin < 1
    outputFolder = fullfile(root, 'build');
end
outputFolder = absoluteFolder(outputFolder);
sources = [{fullfile(root, 'host', 'mex_gateway.cpp')}, solverSources(root)];
includes = {['-I' fullfile(root, 'host')], ['-I' fullfile(root, 'solver')]};

% Which elements of the working matrix become exactly zero decides the search, so every operation
% must be rounded on its own: no fused multiply-add contracted from a * b + c.
isOctave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
if isOctave
    % Octave's mex (mkoctfile --mex) does not define MATLAB_MEX_FILE, which makes the sources
    % use the host's mex.h rather than the stand-in host. mkoctfile quotes the sources and the
    % include folders on its command lines but not the output file, so the module is written into
    % the current folder, made the output folder for the build, under a name without spaces.
    flags = {'-DMATLAB_MEX_FILE', '-ffp-contract=off', '-o', 'pairsolve.mex'};
else
    compiler = mex.getCompilerConfigurations('C++', 'Selected');
    if isempty(compiler)
        error('pairsolve:noCompiler', 'No C++ compiler is set up for mex; run "mex -setup C++" first.');
    end
    if ~isempty(strfind(compiler.Manufacturer, 'Microsoft'))
        flags = {'COMPFLAGS=$COMPFLAGS /fp:precise'};  % contracts nothing
    else
        flags = {'CXXFLAGS=$CXXFLAGS -ffp-contract=off'};  % GCC, MinGW, Clang, Xcode
    end
    flags = [flags, {'-outdir', outputFolder, '-output', 'pairsolve'}];
end

created = ~exist(outputFolder, 'dir');
if created
    mkdir(outputFolder);
end
fprintf('Building pairsolve in %s\n', outputFolder);
try
    if isOctave
        previous = cd(outputFolder);
        restore = onCleanup(@() cd(previous));
    end
    mex(flags{:}, includes{:}, sources{:});
    clear restore;
catch failure
    clear restore;
    % A folder made for this build and left empty by it goes again.
    if created && numel(dir(outputFolder)) <= 2
        rmdir(outputFolder);
    end
    rethrow(failure);
end
copyfile(fullfile(root, 'host', 'pairsolve.m'), fullfile(outputFolder, 'pairsolve.m'));
fprintf('Done. Use it after addpath(''%s''); see "help pairsolve".\n', ...
        strrep(outputFolder, '''', ''''''));
end

function sources = solverSources(root)
% The solver's sources, from the list every build reads (solver/sources.txt).
names = regexp(fileread(fullfile(root, 'solver', 'sources.txt')), '^\w+\.cpp(?=\r?$)', ...
               'match', 'lineanchors');
sources = cellfun(@(name) fullfile(root, 'solver', name), names, 'UniformOutput', false);
end

function folder = absoluteFolder(folder)
% FOLDER as an absolute path: a relative one is taken from the current folder.
if isempty(regexp(folder, '^([/\\]|[A-Za-z]:[/\\])', 'once'))
    folder = fullfile(pwd, folder);
end
end
