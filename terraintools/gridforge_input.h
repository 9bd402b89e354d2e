// gridforge's input phase: the raw 16-bit elevation grid becomes the two temporary grid files
// that the elevation and colour passes read.
#pragma once

// The temporary grids in the current directory.
inline constexpr const char* kTempElevations = "./TempData.tmp";
inline constexpr const char* kTempColors = "./TempDataColors.tmp";

// Writes one message to standard error, piece by piece, then a newline and a flush.
void GridforgeMessage(const char* const* pieces, int count);
template <typename... Pieces>
void GridforgeMessage(const Pieces*... pieces) {
  const char* list[] = {pieces...};
  GridforgeMessage(list, static_cast<int>(sizeof...(pieces)));
}

// Converts `ncols` records of `nrows` values of `file_name` into the two temporary grids.
// Returns 0, or -1 after its message and, on the next line, the system's reason where there is
// one ("gridforge: No space left on device") or, for an input that ends before the grid does,
// what the grid needs and what the input gave ("gridforge: needed 12 bytes, read 10"); no
// temporary is left behind. A plain input file too short for the grid gets the read error before
// any temporary is created; a directory is not opened as the input, nor an existing temporary
// that is a link, or not a plain file of its own.
int RunInputPhase(const char* file_name, int ncols, int nrows);
