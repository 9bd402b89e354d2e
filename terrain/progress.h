// Progress lines of the terrain passes, on standard output.
#pragma once

// "y=%d of %d\r", then a flush of standard output.
void PrintRowLine(int y, int last);
// "%50s\n" with an empty text: blanks the last row line after a tile.
void PrintTileLine();
