#include "trn_color_post_cut.h"

#include <cmath>
#include <initializer_list>

#include "support/Truncate.h"

namespace {

// Gamma-corrected levels per cell step and luma weight of each channel.
constexpr int kLevelsPerStep[3] = {1 << (kChannelBits - kRedBits), 1 << (kChannelBits - kGreenBits),
                                   1 << (kChannelBits - kBlueBits)};
constexpr double kLumaWeight[3] = {0.212, 0.701, 0.087};

constexpr uint32_t kMeanUnit = 1u << 21;  // posts per unit in the means of large boxes
constexpr uint32_t kConvertedCell = 1u << 31;
constexpr uint32_t kIndexBits = 0xFF;  // a converted cell's palette index

// Calls visit(r, g, b, key) for every cell within the box's bounds. Every use adds up counts
// or widens bounds, which no order of the cells changes, so the cells are visited in the
// cube's storage order (blue outermost, red innermost) to keep the scan in cache.
template <class Visit>
void ForEachCell(const ColorBox& box, Visit&& visit) {
  for (int b = box.blue_min; b <= box.blue_max; ++b) {
    for (int g = box.green_min; g <= box.green_max; ++g) {
      for (int r = box.red_min; r <= box.red_max; ++r) visit(r, g, b, CellKey(r, g, b));
    }
  }
}

// True when a cell of the box whose coordinate in `channel` is m holds a post.
bool PlaneOccupied(const uint32_t* cube, const ColorBox& box, int channel, int m) {
  ColorBox plane = box;
  plane.Min(channel) = plane.Max(channel) = static_cast<uint8_t>(m);
  for (int b = plane.blue_min; b <= plane.blue_max; ++b) {
    for (int g = plane.green_min; g <= plane.green_max; ++g) {
      const uint32_t* row = cube + CellKey(0, g, b);
      for (int r = plane.red_min; r <= plane.red_max; ++r)
        if (row[r] != 0) return true;
    }
  }
  return false;
}

}  // namespace

void ColorBox::Widen(const ColorCell& c) {
  if (c.r < red_min) red_min = static_cast<uint8_t>(c.r);
  if (c.r > red_max) red_max = static_cast<uint8_t>(c.r);
  if (c.g < green_min) green_min = static_cast<uint8_t>(c.g);
  if (c.g > green_max) green_max = static_cast<uint8_t>(c.g);
  if (c.b < blue_min) blue_min = static_cast<uint8_t>(c.b);
  if (c.b > blue_max) blue_max = static_cast<uint8_t>(c.b);
}

void BuildGammaTable(uint8_t* gamma_table, double gamma) {
  // Not the colour pass's formula, which gives other entries (see the header).
  constexpr double kMaxLevel = 255.0;
  const double k = 1.0 / kMaxLevel;
  gamma_table[0] = 0;
  for (int i = 1; i < kGammaEntries; ++i) {
    const double v = kMaxLevel * std::exp(std::log(i * k) / gamma);
    // The truncating 32-bit conversion keeps its low byte, as a byte store of it would.
    gamma_table[i] = static_cast<uint8_t>(TruncateToInt32(v));
  }
}

int ChooseBox(const ColorBox* boxes, int box_count, int* channel) {
  float best = -1.0f;
  int chosen = -1;
  for (int i = 0; i < box_count; ++i) {
    const ColorBox& box = boxes[i];
    for (int c = kRed; c <= kBlue; ++c) {
      if (box.Min(c) >= box.Max(c)) continue;
      const int w = kLevelsPerStep[c];
      const double score = (double)((box.Max(c) - box.Min(c)) * w + w) * kLumaWeight[c];
      if (score > best) {
        best = static_cast<float>(score);
        chosen = i;
        *channel = c;
      }
    }
  }
  return chosen;
}

void ShrinkBox(const uint32_t* cube, ColorBox& box) {
  // The tight bounds of the occupied cells, found one channel at a time: each bound moves in
  // past the planes of cells that hold no post. The occupied cells all lie within a channel's
  // tight bounds, so narrowing the box to them before the next channel loses none.
  ColorBox bounds = box;
  for (const int c : {kBlue, kGreen, kRed}) {
    int low = bounds.Min(c), high = bounds.Max(c);
    while (low <= high && !PlaneOccupied(cube, bounds, c, low)) ++low;
    if (low > high) {
      box.ResetBounds();  // no occupied cell
      return;
    }
    while (!PlaneOccupied(cube, bounds, c, high)) --high;
    bounds.Min(c) = static_cast<uint8_t>(low);
    bounds.Max(c) = static_cast<uint8_t>(high);
  }
  box = bounds;
}

void SplitBox(const uint32_t* cube, ColorBox* boxes, int chosen, int channel, int slot) {
  ColorBox& low = boxes[chosen];
  const int min_c = low.Min(channel);
  const int max_c = low.Max(channel);
  const int32_t half = low.count / 2;

  // Counts of the slices min_c..max_c, from one scan of the box.
  int64_t slices[kGreenCells] = {};  // the most cells of a channel
  static_assert(kGreenCells >= kRedCells && kGreenCells >= kBlueCells);
  ForEachCell(low, [&](int r, int g, int b, uint32_t key) {
    const int m = channel == kRed ? r : channel == kGreen ? g : b;
    slices[m - min_c] += cube[key];
  });

  int64_t running = 0;
  int low_end = min_c;
  int64_t low_count = 0;
  for (int m = min_c; m <= max_c; ++m) {
    const int64_t slice_sum = slices[m - min_c];
    running += slice_sum;
    if (running > half) {
      if (m == min_c) {
        low_end = min_c;
        low_count = running;
      } else {
        low_end = m - 1;
        low_count = running - slice_sum;
      }
      break;
    }
  }

  ColorBox& high = boxes[slot];
  high = low;
  const int32_t former = low.count;
  low.Max(channel) = static_cast<uint8_t>(low_end);
  low.count = static_cast<int32_t>(low_count);
  high.Min(channel) = static_cast<uint8_t>(low_end + 1);
  high.count =
      static_cast<int32_t>(static_cast<uint32_t>(former) - static_cast<uint32_t>(low_count));

  ShrinkBox(cube, low);
  ShrinkBox(cube, high);
}

int MedianCut(const uint32_t* cube, ColorBox* boxes, int max_boxes) {
  if (boxes[0].count == 0) return 0;
  int box_count = 1;
  while (box_count < max_boxes) {
    int channel = kRed;
    const int chosen = ChooseBox(boxes, box_count, &channel);
    if (chosen < 0) break;
    SplitBox(cube, boxes, chosen, channel, box_count);
    ++box_count;
  }
  return box_count;
}

void SetPaletteMeans(const uint32_t* cube, ColorBox* boxes, int box_count) {
  for (int i = 0; i < box_count; ++i) {
    ColorBox& box = boxes[i];
    const uint32_t count = static_cast<uint32_t>(box.count);
    const uint32_t m = count >= kMeanUnit ? count / kMeanUnit : 1;
    uint32_t red_sum = 0, green_sum = 0, blue_sum = 0;
    ForEachCell(box, [&](int r, int g, int b, uint32_t key) {
      const uint32_t q = cube[key] / m;
      red_sum += static_cast<uint32_t>(kLevelsPerStep[kRed] * r) * q;
      green_sum += static_cast<uint32_t>(kLevelsPerStep[kGreen] * g) * q;
      blue_sum += static_cast<uint32_t>(kLevelsPerStep[kBlue] * b) * q;
    });
    const uint32_t n = count / m;
    if (n == 0) continue;  // only a box without posts, which the cut never makes
    box.red_mean = static_cast<uint8_t>(red_sum / n);
    box.green_mean = static_cast<uint8_t>(green_sum / n);
    box.blue_mean = static_cast<uint8_t>(blue_sum / n);
  }
}

void BuildIndexTable(uint32_t* cube, const ColorBox* boxes, int box_count, int first) {
  // Boxes are disjoint and cover every occupied cell, so each box marks its own cells; the
  // marker bit (counts stay below 2^31) tells them from empty cells, and only the low byte
  // of a cell is read from here on.
  for (int i = 0; i < box_count; ++i) {
    const uint32_t index = static_cast<uint32_t>(first + i);
    ForEachCell(boxes[i], [&](int, int, int, uint32_t key) {
      if (cube[key] != 0) cube[key] = kConvertedCell | index;
    });
  }
  for (int key = 0; key < kCubeCells; ++key) {
    cube[key] = (cube[key] & kConvertedCell) != 0 ? cube[key] & kIndexBits : kEmptyCellIndex;
  }
}
