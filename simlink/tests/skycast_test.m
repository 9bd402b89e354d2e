% skycast in a real host: every operation and every refusal, with an independent peer
% (skycast_peer.py) that checks the packets sent here and sends the packets read back here.
1;

function check(ok, what)
  global failures;
  if ~ok
    failures = failures + 1;
    printf('FAIL %s\n', what);
  end
end

% Octave shows a MEX error with the function's name in front and without its final line break.
function expect_error(code, message)
  want = ['skycast: ' regexprep(message, '\n$', '')];
  try
    evalin('base', code);
    check(false, [code ' did not fail']);
  catch err
    check(strcmp(err.message, want), sprintf('%s\n  got  "%s"\n  want "%s"', code, err.message, want));
  end
end

function peer_send(name, state, lon, lat, alt, pitch, roll, heading)
  status = system(sprintf('python3 "%s" send %s %d %d %d %d %d %d %d', getenv('SKYCAST_PEER'), ...
                          name, state, lon, lat, alt, pitch, roll, heading));
  check(status == 0, ['peer send ' name]);
end

function r = decoded(lon, lat, alt, pitch, roll, heading, state, origin_lon, origin_lat)
  r = zeros(55, 1);
  f = 1 - abs(lat * 1.130280671e-9 - 1);
  r(12) = origin_lon;
  r(13) = origin_lat;
  r(14) = f * (lon - origin_lon) * 0.03715370639029097;
  r(15) = (lat - origin_lat) * 0.03715370639029097;
  r(16) = single(alt * 0.03715370639029097);
  r(20) = single(pitch * 0.005493164063841104);
  r(21) = single(roll * 0.005493164063841104);
  r(22) = single(heading * 0.005493164063841104);
  r(26) = state;
end

global failures;
failures = 0;

% Sends, checked byte by byte by the peer after this script ends.
skycast(1, 7, 3);
skycast(2, 7, [0 0 5000]);
skycast(2, 7, [100 200 6000 10 5 90 1 2 3 126.9 0 0 0 0 0 0]);
skycast(1, 7, [3 -100 40]);
skycast(2, 7, 100);
skycast(2.9, 7, [0 0]);
skycast(1, 7, 3, 'not', 'read', 'here');
skycast(2, 7, 0);

% Refusals, in the order the checks run.
inputs = "skycast:: Wrong number of inputs encoutered while executing the skycast MEX function: %d inputs \n Must be 1, 2 or 5, please see the file 'ReadMe.txt' for more information.\n";
mode = "skycast:: Wrong number of inputs encoutered for the skycast MEX function mode selected: Mode Selected = %d Number of Inputs = %d \n Please see the file 'ReadMe.txt' for more information.\n";
outputs0 = "skycast:: Wrong number of outputs encoutered while executing the skycast MEX function: %d inputs \n Must be 0, please see the file 'ReadMe.txt' for more information.\n";
outputs01 = "skycast:: Wrong number of outputs encoutered while executing the skycast MEX function: %d inputs \n Must be 0 or 1, please see the file 'ReadMe.txt' for more information.\n";
length_message = "skycast:: Wrong length of input vector.\nLength of input vector must be in the range [1,%d].\nThis input vector's length is %d\n";
class_message = "skycast:: Input vector must be full, real and of class double.\n";

expect_error('skycast();', sprintf(inputs, 0));
expect_error('skycast(1, 7, 3, 4);', sprintf(inputs, 4));
expect_error('skycast(2, 1, [1 2], 4);', sprintf(inputs, 4));
expect_error('skycast(''a'');', "skycast:: Operating mode (first input) must be a scalar.\n");
expect_error('skycast([1 2], 7, 3);', "skycast:: Operating mode (first input) must be a scalar.\n");
expect_error('skycast(3 + 1i);', "skycast:: Operating mode (first input) must be a scalar.\n");
expect_error('skycast(int8(3));', "skycast:: Operating mode (first input) must be a scalar.\n");
expect_error('skycast(6);', sprintf(mode, 6, 1));
expect_error('skycast(0);', sprintf(mode, 0, 1));
expect_error('skycast(1);', sprintf(mode, 1, 1));
expect_error('skycast(3, 1);', sprintf(mode, 3, 2));
expect_error('skycast(2, 7, 1, 2, 3, 4);', sprintf(mode, 2, 6));
expect_error('x = skycast(1, 7, 3);', sprintf(outputs0, 3));
expect_error('x = skycast(4);', sprintf(outputs0, 1));
expect_error('[a, b] = skycast(3);', sprintf(outputs01, 1));
expect_error('skycast(1, ''x'', 3);', "skycast:: Error reading connection ID number.\n");
expect_error('skycast(2, [7 8], 3);', "skycast:: Error reading connection ID number.\n");
expect_error('skycast(1, 7, zeros(2, 2));', "skycast:: Input must be a vector\n");
expect_error('skycast(1, 7, 1:5);', sprintf(length_message, 4, 5));
expect_error('skycast(1, 7, zeros(1, 0));', sprintf(length_message, 4, 0));
expect_error('skycast(2, 7, 1:17);', sprintf(length_message, 16, 17));
expect_error('skycast(2, 8, zeros(2, 2));', "skycast:: Unable to   find connection #8");
expect_error('skycast(2, -3.7, 1);', "skycast:: Unable to   find connection #-3");
expect_error('skycast(1, 7, single(3));', class_message);
expect_error('skycast(1, 7, 3 + 2i);', class_message);
expect_error('skycast(2, 7, int16([1 2]));', class_message);
expect_error('skycast(2, 7, ''ab'');', class_message);
expect_error('skycast(2, 7, sparse([1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 5]));', class_message);
expect_error('skycast(1, 7, sparse([3 0 0 0]));', class_message);

% Closing: the map empties; closing again finds no connection. Receiving on an empty map makes
% connection -1, which the next close removes.
skycast(4);
expect_error('skycast(4);', "skycast:: Error encountered while closing connection:\nno connection exists.\n");
r = skycast(3);
check(isequal(size(r), [0 1]) && isa(r, 'double'), 'nothing received gives a 0 x 1 array');
skycast(4);

% Receiving on connection 0, whose vehicle has no reference position: oldest first, then empty.
skycast(5);
peer_send('peer1', 200, 569539950, 1258109550, 134576, 1820, -910, -16383);
peer_send('peer2', 17, -1542455296, 1300000000, 26915, -1820, 16383, 32767);
r = skycast(3);
check(isequal(r, decoded(569539950, 1258109550, 134576, 1820, -910, -16383, 200, 0, 0)), ...
      sprintf('first received record: %s', mat2str(r')));
r = skycast(3);
check(isequal(r, decoded(-1542455296, 1300000000, 26915, -1820, 16383, 32767, 17, 0, 0)), ...
      sprintf('second received record: %s', mat2str(r')));
check(isequal(size(skycast(3)), [0 1]), 'queue drained');
skycast(4);

% Received positions are relative to the reference position of the polling connection.
skycast(1, 2, 3);
peer_send('peer3', 5, 569539950 + 46567, 1258109550 + 2691, 134576, 0, 0, 0);
r = skycast(3);
check(isequal(r, decoded(569539950 + 46567, 1258109550 + 2691, 134576, 0, 0, 0, 5, ...
                         569539950, 1258109550)), sprintf('relative record: %s', mat2str(r')));
check(abs(r(14) - 1000) < 0.1 && abs(r(15) - 100) < 0.05, 'about 1000 ft east, 100 ft north');
skycast(4);

if failures > 0
  printf('%d failures\n', failures);
  exit(1);
end
printf('skycast: all checks passed\n');
exit(0);
