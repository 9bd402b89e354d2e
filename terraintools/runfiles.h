// The files of one terrain program's run, looked up before the run makes the first of them: the
// inputs it reads, the files it creates, empties, overwrites or removes with the size each has
// once written, and the tile files of its region, which it reads and rewrites in place.
//
// Two checks follow from them. No file that the run writes may be the same file (device and
// inode, whatever the name or the link that leads to it) as one it reads under another name: the
// run would empty or overwrite its own input. And what the run adds to each file system must fit
// into the space free there: a mistyped bound asks for thousands of tiles of 4 MB each.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "regionwalk.h"

// The files of a region's tiles, by kind.
enum TileFileKinds : unsigned {
  kElevationTiles = 1u << 0,  // "%03d_%03d"
  kColorTiles = 1u << 1,      // "%03d_%03d.c32"
  kScratchTiles = 1u << 2,    // "%03d_%03d.tmp"
  kLevelFiles = 1u << 3,      // "%03d_%03d_0" to "%03d_%03d_5"
};

// One file of a run, as the lookup found it.
struct RunFile {
  const char* role = "";  // what the file is to the run, as a message names it: "input grid"
  std::string name;
  bool reads = false;
  bool writes = false;
  uint64_t bytes = 0;     // its size once written
  bool own_name = false;  // opened under its own name only: a link there is not followed
  bool tile = false;      // one of the region's tile files
  bool found = false;     // whether `st` describes the file the run opens under the name
  bool missing = false;   // whether there is none: the run creates it
  struct stat st {};
};

class RunFiles {
 public:
  // `line_start` comes before a refusal's line: "\n" where the run's last line is still open.
  RunFiles(const char* program, const Region& region, const char* line_start = "")
      : program_(program), line_start_(line_start), region_(region) {}

  // A file the run reads and does not write, opened through links.
  void Reads(const char* role, const std::string& name);
  // A file the run creates, empties or overwrites, of `bytes` once written, opened through
  // links; with `own_name`, the file under the name itself (a link there is not followed, and
  // the run refuses it).
  void Writes(const char* role, const std::string& name, uint64_t bytes, bool own_name = false);
  // The region's tile files in the current directory: the kinds the run reads and those it
  // writes (a tile read and rewritten is both). A tile that exists is rewritten in place.
  void Tiles(unsigned read, unsigned written);
  // The elevation tiles of the tile column east of the region, which the shading pass reads.
  void EastTiles() { east_tiles_ = true; }

  // Whether the run may go ahead: no input is a file the run writes, and what the run adds
  // fits into each file system. Otherwise one line on standard error, false:
  //   "<program>: <role> '<name>' is the <role> '<name>'"
  //   "<program>: region of <n> tiles needs <bytes> bytes in '<directory>', more than the
  //    <bytes> bytes free"
  // A file that cannot be looked up is left to the run, which reports it when it opens it.
  bool Check() const;

 private:
  // The named files, then the region's tile files that the current directory holds, each looked
  // up; those tiles in walk order.
  std::vector<RunFile> LookUp() const;
  bool KeepsInputs(const std::vector<RunFile>& files) const;
  bool Fits(const std::vector<RunFile>& files) const;

  const char* program_;
  const char* line_start_;
  Region region_;
  std::vector<RunFile> named_;
  unsigned tiles_read_ = 0, tiles_written_ = 0;
  bool east_tiles_ = false;
};
