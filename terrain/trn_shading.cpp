#include "trn_shading.h"

#include <emmintrin.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "littleendian.h"
#include "passbuffer.h"
#include "progress.h"
#include "regionwalk.h"
#include "support/Truncate.h"
#include "tilefile.h"
#include "tileformat.h"
#include "tilenames.h"
#include "trn_post_walk.h"

namespace {

constexpr const char* kModule = "trn_shading";
constexpr int kRowLineStep = 4;  // a row line on every fourth post row

// The sun moves from the eastern horizon at 6 h over the zenith at 12 h to the western horizon
// at 18 h: its angle from the zenith is (1 - t / 12) pi, taken with these constants.
constexpr double kSunrise = 6, kSunset = 18;
constexpr double kInverse12 = 0.08333333333333333;
// The sun's pi, not the exact one: at 6 h and 18 h cos a is a hair below zero.
constexpr double kSunPi = 3.141592654;
// The slope of a post: its rise to the east neighbour, times this, over a run of 90 (metres).
constexpr double kRiseScale = 2.5;
constexpr double kRunSquared = 90 * 90;
// A coloured channel c darkens towards c / 8 as the light fades.
constexpr int kDarkestDivisor = 8;

// Posts are taken four bytes to a word, byte 0 in the low bits.
static_assert(std::endian::native == std::endian::little);

struct Rgb {
  int red = 0, green = 0, blue = 0;
};

// A channel truncated toward zero to a byte (the low byte of the 32-bit conversion).
uint8_t ToByte(double v) { return static_cast<uint8_t>(TruncateToInt32(v)); }

// The same for a post's channel, which lies within -1..256: an intensity is a number in
// 0..1 (beyond rounding) and every colour a byte, so no range test is needed.
uint8_t ChannelByte(double v) { return static_cast<uint8_t>(static_cast<int32_t>(v)); }

struct Sun {
  float sin_a = 0;
  float cos_a = 0;
};

Sun SunAt(double time_of_day) {
  double t = time_of_day;
  if (t > kSunset) t = kSunset;
  if (t < kSunrise) t = kSunrise;
  const double a = (1 - t * kInverse12) * kSunPi;
  return Sun{static_cast<float>(std::sin(a)), static_cast<float>(std::cos(a))};
}

struct Shade {
  Sun sun;
  Rgb zero;  // colour at intensity 0
  Rgb full;  // colour at intensity 1
};

// Light intensity of a post whose east neighbour lies `rise` metres higher.
double Intensity(const Sun& sun, int rise) {
  const double s = rise * kRiseScale;
  const double nx = -s / std::sqrt(s * s + kRunSquared);
  const double nz = std::sqrt(1 - nx * nx);
  double i = nz * sun.cos_a + nx * sun.sin_a;
  if (i < 0) i = 0;
  // A sun that is not a number (a time of day that is not one) gives no light.
  if (std::isnan(i)) i = 0;
  return i;
}

// What the post step makes of a post at one rise: the post without colour, and each channel
// value c of a coloured post darkened to q + i (c - q).
struct RiseShade {
  uint32_t blend;         // red, green, blue and alpha 255, as the post's four bytes
  uint8_t darkened[256];  // channel value c darkened
};

// A post's new colour depends only on its rise (e1 - e0) and its own bytes, so the post step
// is computed once for each of the 131,071 rises that occurs, on first use, and looked up
// for every post after that.
class ShadeTable {
 public:
  static constexpr int kRiseBias = 65535;

  explicit ShadeTable(const Shade& shade) : shade_(shade), entries_(ThreadEntries()) {}
  ~ShadeTable() {
    for (const auto& entry : computed_) entries_[entry.first + kRiseBias] = nullptr;
  }
  ShadeTable(const ShadeTable&) = delete;
  ShadeTable& operator=(const ShadeTable&) = delete;

  // Entries by rise + kRiseBias, null where not computed yet. Add fills one in place.
  const RiseShade* const* entries() const { return entries_; }

  [[gnu::noinline]] const RiseShade* Add(int rise) {
    computed_.emplace_back(rise, Compute(rise));
    const RiseShade* entry = computed_.back().second.get();
    entries_[rise + kRiseBias] = entry;
    return entry;
  }

 private:
  // The entries of the thread's calls, all null between calls: each call clears the ones it
  // filled rather than taking and clearing all 131,071 afresh. They are taken zero-filled from
  // the heap, which hands a block this large over as fresh pages, untouched until a rise on
  // them occurs: a call sees a few hundred rises, on a few of the table's 256 pages.
  static const RiseShade** ThreadEntries() {
    struct Free {
      void operator()(const RiseShade** p) const { std::free(p); }
    };
    thread_local std::unique_ptr<const RiseShade*[], Free> entries;
    if (!entries) {
      entries.reset(
          static_cast<const RiseShade**>(std::calloc(2 * kRiseBias + 1, sizeof(const RiseShade*))));
      if (!entries) throw std::bad_alloc();
    }
    return entries.get();
  }

  std::unique_ptr<RiseShade> Compute(int rise) const {
    const double i = Intensity(shade_.sun, rise);
    auto r = std::make_unique<RiseShade>();
    const uint8_t red = ChannelByte(shade_.zero.red + i * (shade_.full.red - shade_.zero.red));
    const uint8_t green =
        ChannelByte(shade_.zero.green + i * (shade_.full.green - shade_.zero.green));
    const uint8_t blue = ChannelByte(shade_.zero.blue + i * (shade_.full.blue - shade_.zero.blue));
    r->blend = uint32_t{red} | uint32_t{green} << 8 | uint32_t{blue} << 16 | uint32_t{255} << 24;
    for (int c = 0; c < 256; ++c) {
      const int q = c / kDarkestDivisor;
      r->darkened[c] = ChannelByte(q + i * (c - q));
    }
    return r;
  }

  Shade shade_;
  const RiseShade** entries_;
  std::vector<std::pair<int, std::unique_ptr<RiseShade>>> computed_;
};

// New colour post, as its four bytes in one word (red in the low byte), of colour post
// `post` whose rise to its east neighbour is shaded by `r`.
inline uint32_t ShadePost(const RiseShade& r, const uint8_t* post) {
  const uint8_t alpha = post[kPostAlphaByte];
  if (alpha == 0) return r.blend;
  const uint8_t* d = r.darkened;
  return uint32_t{d[post[0]]} | uint32_t{d[post[1]]} << 8 | uint32_t{d[post[2]]} << 16 |
         uint32_t{alpha} << 24;
}

// The rise to the east neighbour and the land mask (all ones, or 0 for a sea post) of the n
// posts of a row, whose elevations follow one another 4 bytes apart from `elevation`, with
// `last_east` east of the last one.
inline void RowRises(const uint8_t* elevation, int last_east, int n, int32_t* rise,
                     uint32_t* land) {
  // Four posts to a step: the low 16 bits of each, sign-extended, from the posts and from the
  // posts one further east. The last step also reads the post after the row, which lies in the
  // tile buffer (at worst in the trailer after the last block) and is replaced by last_east.
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    const uint8_t* p = elevation + k * kPostSize;
    const __m128i e0 = _mm_srai_epi32(
        _mm_slli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 16), 16);
    const __m128i e1 = _mm_srai_epi32(
        _mm_slli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + kPostSize)), 16), 16);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rise + k), _mm_sub_epi32(e1, e0));
    const __m128i sea = _mm_cmpeq_epi32(_mm_or_si128(e0, e1), _mm_setzero_si128());
    _mm_storeu_si128(reinterpret_cast<__m128i*>(land + k), _mm_xor_si128(sea, _mm_set1_epi32(-1)));
  }
  for (; k < n; ++k) {
    const int e0 = GetS16(elevation + k * kPostSize);
    const int e1 = GetS16(elevation + (k + 1) * kPostSize);
    rise[k] = e1 - e0;
    land[k] = (e0 | e1) == 0 ? 0 : ~0u;
  }
  const int e0 = GetS16(elevation + (n - 1) * kPostSize);
  rise[n - 1] = last_east - e0;
  land[n - 1] = (e0 | last_east) == 0 ? 0 : ~0u;
}

// Shades one block's part of the region. The elevations lie in the own tile at the offsets of
// the colour posts in the colour tile; `east_column` holds column 0 of the tile to the east.
[[gnu::noinline]] void ShadeBlock(ShadeTable& table, const uint8_t* own_tile,
                                  const int16_t* east_column, uint8_t* color_tile,
                                  const BlockPart& b) {
  const int n = b.x1 - b.x0 + 1;
  alignas(16) int32_t rise[kBlockPosts];
  alignas(16) uint32_t land[kBlockPosts];
  uint32_t offset = b.offset;
  for (int y = b.y0; y <= b.y1; ++y, offset += kBlockRowBytes) {
    const uint8_t* elevation = own_tile + offset;
    // East of the row's last post: the next post of the block row, the first post of the
    // next block's row, or column 0 of the tile to the east.
    const int last_east = (b.x1 & kBlockMask) != kBlockMask ? GetS16(elevation + n * kPostSize)
                          : b.x1 < kTileMask
                              ? GetS16(elevation + n * kPostSize + kBlockBytes - kBlockRowBytes)
                              : east_column[y];
    RowRises(elevation, last_east, n, rise, land);
    uint8_t* posts = color_tile + offset;
    const RiseShade* const* entries = table.entries() + ShadeTable::kRiseBias;
    for (int k = 0; k < n; ++k) {
      const RiseShade* r = entries[rise[k]];
      if (r == nullptr) r = table.Add(rise[k]);
      const uint32_t shaded = ShadePost(*r, posts + k * kPostSize) & land[k];
      std::memcpy(posts + k * kPostSize, &shaded, kPostSize);
    }
  }
}

// Column 0 of the tile to the east in the region rows of tile `t`: the only posts of that
// tile the slopes need. The blocks that hold them are read, 4 KB each, rather than the whole
// tile; a short or missing file reads as zeroes, as it would in a whole read, and a read that
// fails is reported as the whole read's would be (false).
bool ReadWestColumn(TileFile& east, const TileSpan& t, int16_t* column) {
  uint8_t block[kBlockBytes];
  for (int band = t.ys & ~kBlockMask; band <= t.ye; band += kBlockPosts) {
    if (!east.ReadAt(kModule, block, kBlockBytes, PostOffset(0, band))) return false;
    for (int y = 0; y < kBlockPosts; ++y) {
      column[band + y] = GetS16(block + y * kBlockRowBytes);
    }
  }
  return true;
}

int ShadeTile(const Shade& shade, ShadeTable& table, PassBuffer (&buffers)[2], const TileSpan& t) {
  TileFile own = TileFile::OpenInput(kModule, ElevationTileName(t.tx, t.ty));
  if (!own.is_open()) return -1;
  // Its region rows alone give the slopes.
  const uint8_t* own_tile = buffers[0].ReadRegionRows(kModule, own, t.ys, t.ye);
  if (own_tile == nullptr) return -1;

  // The east neighbour gives the last column's slope; it is opened whatever the region holds.
  TileFile east = TileFile::OpenInput(kModule, ElevationTileName(t.tx + 1, t.ty));
  if (!east.is_open()) return -1;
  int16_t east_column[kTilePosts];
  if (t.xe == kTileMask && !ReadWestColumn(east, t, east_column)) return -1;

  TileFile color = TileFile::OpenOutput(kModule, ColorTileName(t.tx, t.ty));
  if (!color.is_open()) return -1;
  uint8_t* color_tile = buffers[1].Read(kModule, color);
  if (color_tile == nullptr) return -1;

  SetIdentification(color_tile, kKindColor);
  // Ambient colour, from cos a without the clamp at 0.
  const double cos_a = shade.sun.cos_a;
  uint8_t* ambient = color_tile + TileHeader::kAmbientColorOffset;
  ambient[0] = TileHeader::kEntryHoldsColor;
  ambient[1] = ToByte(shade.zero.blue + (shade.full.blue - shade.zero.blue) * cos_a);
  ambient[2] = ToByte(shade.zero.green + (shade.full.green - shade.zero.green) * cos_a);
  ambient[3] = ToByte(shade.zero.red + (shade.full.red - shade.zero.red) * cos_a);

  ForEachRegionBlock(
      t,
      [&](int y) {
        if (y % kRowLineStep == 0) PrintRowLine(y, t.ye);
      },
      [&](const BlockPart& b) { ShadeBlock(table, own_tile, east_column, color_tile, b); });
  PrintTileLine();
  if (!color.WriteWhole(kModule, color_tile, buffers[1].size())) return -1;

  if (own.Close(kModule) != 0) return -1;
  if (east.Close(kModule) != 0) return -1;
  return color.Close(kModule);
}

int ShadeRegion(const Shade& shade, const Region& region) {
  ShadeTable table(shade);
  PassBuffer buffers[2] = {PassBuffer(0, kElevationTileBytes), PassBuffer(1, kColorTileBytes)};
  return WalkRegion(region, [&](const TileSpan& t) { return ShadeTile(shade, table, buffers, t); });
}

}  // namespace

int trn_shading(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                double lon4, double lat4, const uint8_t* shade_colors, double time_of_day) {
  Shade shade;
  shade.sun = SunAt(time_of_day);
  shade.zero = Rgb{shade_colors[3], shade_colors[2], shade_colors[1]};
  shade.full = Rgb{shade_colors[7], shade_colors[6], shade_colors[5]};

  const std::optional<Region> region =
      PassRegion(kModule, lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  if (!region) return -1;
  // Besides the tile buffers the pass takes its table of rises from the heap; a heap that cannot
  // supply it is reported like a tile buffer that cannot be had.
  try {
    return ShadeRegion(shade, *region);
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    std::perror(kModule);
    return -1;
  }
}
