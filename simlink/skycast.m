% SKYCAST  Vehicles on the KYTE simulator's network (UDP multicast 224.0.5.20:2267).
%
%   skycast(1, id, [craft lon lat alt])
%       Opens sending connection id (or replaces it) and its vehicle: craft type, initial
%       longitude and latitude in decimal degrees, altitude in feet. 1 to 4 values; the missing
%       ones are -122.0634, 37.981523 and 5000. The vehicles are named airhost_01, airhost_02, ...
%       in the order they are opened.
%   skycast(2, id, state)
%       Sends one packet of connection id. state holds 1 to 16 values: north and east in feet
%       from the initial position, altitude in feet, roll, pitch and heading in degrees, four
%       extra values of which the fourth is also the state byte (0 to 255), and six more that
%       are not sent. Missing values are 0.
%   r = skycast(3)
%       Polls the network and returns the oldest vehicle received as a 55 x 1 column, or an
%       empty 0 x 1 array when none is waiting. skycast hears its own packets too.
%   skycast(4)
%       Closes every connection and the network, and forgets what was received.
%   skycast(5)
%       Opens the network without a sending connection (connection 0), to receive only.
%
%   Rows of a received column r:
%       r(14), r(15)        east and north in feet, from the reference position of the receiving
%                           connection (the one with the smallest id: its initial position)
%       r(16)               altitude, feet
%       r(20), r(21), r(22) pitch, roll and heading in degrees; the heading comes back negated
%       r(26)               state byte
%       r(12), r(13)        the receiving connection's reference longitude and latitude in packet
%                           units, (lon + 180) x 9830400 and (lat + 90) x 9830400; 0 for
%                           connection 0 of skycast(5)
%       every other row is 0.
%
%   A state is sent north, east, ..., roll, pitch, heading and comes back east (14), north (15),
%   ..., pitch (20), roll (21), heading (22). Between two calls of skycast(3) the packets that
%   arrive wait in the socket's receive buffer, which holds about 166 of them; each call moves
%   them into skycast's queue of at most 4096 vehicles, oldest dropped first.
%
%   Example:
%       skycast(1, 1, [3 -123.5 48.5 3000]);
%       skycast(2, 1, [1000 2000 3500 10 5 90 0 0 0 1]);
%       pause(0.1);
%       r = skycast(3);   % our own vehicle: r(15) is 1000, r(14) 2000, r(22) -90
%       skycast(4);
%
%   This file holds only this help: the function itself is the MEX file skycast.mex beside it.
