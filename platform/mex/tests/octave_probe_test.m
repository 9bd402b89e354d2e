% Runs the probe MEX file inside Octave, a real MATLAB-compatible host. Any failure raises an
% error, which makes octave-cli exit non-zero.
assert(isequal(mex_probe('twice', [1 2; 3 4]), [2 4; 6 8]));
% The last element (mxGetPr not null) is left out: Octave hands back the raw data of any class.
describe = @(x) mex_probe('describe', x)(1:9);
assert(isequal(describe(2.5), [1 1 0 0 0 1 1 1 2.5]));
assert(isequal(describe('run'), [0 0 1 0 0 1 3 3 114]));
assert(isequal(describe(int32([3 4])), [0 1 0 0 0 1 2 2 3]));
assert(isequal(describe(uint8(200)), [0 1 0 0 0 1 1 1 200]));
assert(isequal(describe([1+2i 3]), [1 1 0 1 0 1 2 2 1]));
assert(isequal(mex_probe('sum', [1+2i; 3-5i]), [4 -3]));
% A text that does not fit is reported by both hosts; Octave copies none of it.
[text, rc] = mex_probe('string', 'vehicle', 7);
assert(rc == 1);
[text, rc] = mex_probe('string', 'vehicle', 8);
assert(strcmp(text, 'vehicle') && rc == 0);
mex_probe('twice', 3);
assert(ans == 6);
try
  mex_probe('fail', sprintf('mex_probe:: went wrong.\n'));
  error('no error raised');
catch err
  % Octave puts the function's name in front and drops the final line break.
  assert(strcmp(err.message, 'mex_probe: mex_probe:: went wrong.'), err.message);
end
assert(strcmp(mex_probe('built'), 'it''s Octave'));
disp('octave probe: ok');
