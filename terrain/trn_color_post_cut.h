// Colour tables of the colour post-processing: the gamma curve, the cube of colour cells that
// first counts posts and then maps cells to palette indexes, and the median cut that divides
// the occupied cells into boxes whose mean colours become the palette.
#pragma once

#include <cstdint>

inline constexpr int kGammaEntries = 256;
inline constexpr int kMaxBoxes = 256;
inline constexpr uint8_t kEmptyCellIndex = 255;

enum ColorChannel { kRed = 0, kGreen = 1, kBlue = 2 };

// Cell coordinates of a colour: 6 bits of red, 7 of green, 5 of blue after the gamma curve.
inline constexpr int kRedBits = 6, kGreenBits = 7, kBlueBits = 5;
inline constexpr int kChannelBits = 8;  // of a gamma-corrected channel value
inline constexpr int kRedCells = 1 << kRedBits;
inline constexpr int kGreenCells = 1 << kGreenBits;
inline constexpr int kBlueCells = 1 << kBlueBits;
inline constexpr int kCubeCells = kRedCells * kGreenCells * kBlueCells;  // 2^18
struct ColorCell {
  int r = 0, g = 0, b = 0;
};

// Key of a cell in the cube: red in bits 0-5, green in bits 6-12, blue in bits 13-17.
inline constexpr uint32_t CellKey(int r, int g, int b) {
  return static_cast<uint32_t>(r + kRedCells * g + kRedCells * kGreenCells * b);
}

// The cell of a colour on the gamma-corrected scale, the scale of the palette entries.
inline ColorCell LevelCell(uint8_t red, uint8_t green, uint8_t blue) {
  return ColorCell{red >> (kChannelBits - kRedBits), green >> (kChannelBits - kGreenBits),
                   blue >> (kChannelBits - kBlueBits)};
}

// The cell of a true colour: its channels through the gamma table.
inline ColorCell CellOf(const uint8_t* gamma, uint8_t red, uint8_t green, uint8_t blue) {
  return LevelCell(gamma[red], gamma[green], gamma[blue]);
}

// A box of cells with red_min..red_max, green_min..green_max, blue_min..blue_max; the means
// are set once the cut is done.
struct ColorBox {
  uint8_t red_mean = 0;
  uint8_t red_min = 0;
  uint8_t red_max = 0;
  uint8_t green_mean = 0;
  uint8_t green_min = 0;
  uint8_t green_max = 0;
  uint8_t blue_mean = 0;
  uint8_t blue_min = 0;
  uint8_t blue_max = 0;
  int32_t count = 0;

  uint8_t& Min(int channel) {
    return channel == kRed ? red_min : channel == kGreen ? green_min : blue_min;
  }
  uint8_t& Max(int channel) {
    return channel == kRed ? red_max : channel == kGreen ? green_max : blue_max;
  }
  uint8_t Min(int channel) const {
    return channel == kRed ? red_min : channel == kGreen ? green_min : blue_min;
  }
  uint8_t Max(int channel) const {
    return channel == kRed ? red_max : channel == kGreen ? green_max : blue_max;
  }
  // Bounds that hold no cell: widening by the first occupied cell makes them tight.
  void ResetBounds() {
    red_min = green_min = blue_min = 255;
    red_max = green_max = blue_max = 0;
  }
  void Widen(const ColorCell& c);
};

// GammaTable[i] = 255 e^(ln(i k) / gamma), k the double nearest 1/255, truncated; entry 0 is 0.
// Not the colour pass's table (trn_color.cpp), whose formula gives other entries: each pass's
// tiles follow its own, so both formulas are required.
void BuildGammaTable(uint8_t* gamma_table, double gamma);

// The box and channel the next split takes (the best score held in single precision, earlier
// boxes and channels winning ties unless the rounding of the held score lets a later one
// past), or -1 when every box is a single cell.
int ChooseBox(const ColorBox* boxes, int box_count, int* channel);

// Splits boxes[chosen] along `channel` at the first slice whose running count exceeds half
// the box; the high part goes into boxes[slot]. Both parts are shrunk to their occupied cells.
void SplitBox(const uint32_t* cube, ColorBox* boxes, int chosen, int channel, int slot);

// Sets the bounds of `box` tight to the occupied cells within its current bounds.
void ShrinkBox(const uint32_t* cube, ColorBox& box);

// Divides boxes[0], which holds every counted cell, into at most `max_boxes` boxes and
// returns the box count (0 when boxes[0] counts no post).
int MedianCut(const uint32_t* cube, ColorBox* boxes, int max_boxes);

// Mean colour of each box on the 0..255 scale, each cell standing for its lowest levels;
// boxes of 2^21 posts or more count each cell in units of count / 2^21 posts.
void SetPaletteMeans(const uint32_t* cube, ColorBox* boxes, int box_count);

// Overwrites the counts with indexes: first + i in the cells of box i, 255 in empty cells.
void BuildIndexTable(uint32_t* cube, const ColorBox* boxes, int box_count, int first);
