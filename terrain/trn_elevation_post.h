// Elevation post-processing: fills the trailer of every elevation tile of a region's tile range
// with one block record per 32 x 32-post block (first post's elevation, lowest, highest).
#pragma once

// Returns 0 when every tile of the range is done, -1 after a failure it has reported.
int trn_elevation_post(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                       double lon4, double lat4);
