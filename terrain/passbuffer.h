// The tile buffers that a pass keeps for its thread, and the whole-tile read-modify-write of
// an output tile through them.
#pragma once

#include <cstdint>
#include <string>

#include "tilefile.h"
#include "tilegrid.h"

// The tile buffers of the passes: at most three per pass, each known by its slot. A slot's
// buffer is taken from the heap, zero-filled, the first time a pass of the thread uses it, and
// kept for the thread's life: tile buffers of 4 MB released per tile, or per call, go back to
// the system at each release and come back page by page, zero-filled again by the kernel, at
// each take, which costs more than the tile's file work. Every use fills what it then reads (a
// whole tile, the region's rows of one, gathered posts, a cleared picture), so nothing of one
// tile or call shows in the next.
//
// A slot holds a whole elevation tile, or the picture of a one-degree square (1201 x 1201
// posts: the region of a gridforge run, which the raster pass assembles in a slot), whichever
// is larger; a larger need takes a larger buffer.
class PassBuffer {
 public:
  static constexpr int kSlots = 3;
  static constexpr uint64_t kSlotBytes = 54 + 3604 * 1201;
  static_assert(kSlotBytes >= kElevationTileBytes);

  // Slot 0..2 of the thread's buffers, for `size` bytes.
  PassBuffer(int slot, uint64_t size) : slot_(slot), size_(size) {}

  // The buffer, as the last user of the slot left it; null after a reported allocation failure
  // ("<module>: Cannot allocate memory").
  uint8_t* Get(const char* module);
  // Reads the whole tile into the buffer (TileFile::ReadWhole); null after a reported failure.
  uint8_t* Read(const char* module, TileFile& file);
  // Reads what a pass that only reads the region's posts of a tile takes from it: the header
  // and the block rows that hold region rows ys..ye, each where a whole read puts it. The rest
  // of the buffer is left as it was. Null after a reported failure.
  uint8_t* ReadRegionRows(const char* module, TileFile& file, int ys, int ye);
  uint64_t size() const { return size_; }

 private:
  int slot_;
  uint64_t size_;
};

// The whole-tile read-modify-write of one output tile: opened (or created), read whole into a
// pass buffer of the file's size, identification fields set with the file's kind.
struct TileUpdate {
  TileFile file;
  uint8_t* data = nullptr;
  uint64_t size = 0;

  // False after a reported failure (open: code 4; allocation; read: code 6).
  bool Open(const char* module, const std::string& name, PassBuffer& buffer, uint32_t kind);
  // Prints the tile line, writes the buffer whole and closes the file: 0, or -1 after code 5
  // or 8.
  int Finish(const char* module);
};
