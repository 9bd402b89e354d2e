#include "trn_shading.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "tiledb.h"
#include "trn_post_walk.h"

namespace {

constexpr const char* kModule = "trn_shading";

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
  if (t > 18) t = 18;
  if (t < 6) t = 6;
  // 3.141592654 as the sun's constant, not the exact pi: at 6 h and 18 h cos a is a hair
  // below zero.
  const double a = (1 - t * 0.08333333333333333) * 3.141592654;
  return Sun{static_cast<float>(std::sin(a)), static_cast<float>(std::cos(a))};
}

struct Shade {
  Sun sun;
  Rgb zero;  // colour at intensity 0
  Rgb full;  // colour at intensity 1
};

// Light intensity of a post whose east neighbour lies `rise` metres higher.
double Intensity(const Sun& sun, int rise) {
  const double s = rise * 2.5;
  const double nx = -s / std::sqrt(s * s + 8100);
  const double nz = std::sqrt(1 - nx * nx);
  double i = nz * sun.cos_a + nx * sun.sin_a;
  if (i < 0) i = 0;
  // A sun that is not a number (a time of day that is not one) gives no light.
  if (std::isnan(i)) i = 0;
  return i;
}

// What the post step makes of a post at one rise: the blend for a post without colour, and
// each channel value c of a coloured post darkened to q + i (c - q).
struct RiseShade {
  uint8_t blend[3];  // red, green, blue
  uint8_t darkened[256];
};

// A post's new colour depends only on its rise (e1 - e0) and its own bytes, so the post step
// is computed once for each of the 131,071 rises that occurs, on first use, and looked up
// for every post after that.
class ShadeTable {
 public:
  explicit ShadeTable(const Shade& shade) : shade_(shade), rises_(kRises) {}

  const RiseShade& At(int rise) {
    const RiseShade* entry = rises_[static_cast<size_t>(rise + 65535)].get();
    return entry != nullptr ? *entry : Add(rise);
  }

 private:
  static constexpr size_t kRises = 2 * 65535 + 1;

  [[gnu::noinline]] const RiseShade& Add(int rise) {
    std::unique_ptr<RiseShade>& entry = rises_[static_cast<size_t>(rise + 65535)];
    entry = Compute(rise);
    return *entry;
  }

  std::unique_ptr<RiseShade> Compute(int rise) const {
    const double i = Intensity(shade_.sun, rise);
    auto r = std::make_unique<RiseShade>();
    r->blend[0] = ChannelByte(shade_.zero.red + i * (shade_.full.red - shade_.zero.red));
    r->blend[1] = ChannelByte(shade_.zero.green + i * (shade_.full.green - shade_.zero.green));
    r->blend[2] = ChannelByte(shade_.zero.blue + i * (shade_.full.blue - shade_.zero.blue));
    for (int c = 0; c < 256; ++c) {
      const int q = c / 8;
      r->darkened[c] = ChannelByte(q + i * (c - q));
    }
    return r;
  }

  Shade shade_;
  std::vector<std::unique_ptr<RiseShade>> rises_;
};

// New colour post of a post at elevation e0 whose east neighbour is at e1.
void ShadePost(ShadeTable& table, int e0, int e1, uint8_t* post) {
  const RiseShade& r = table.At(e1 - e0);
  // Both outcomes are formed and one is kept, without branches on the post's bytes. All four
  // bytes are read before any is stored: a byte store may alias the table.
  const uint8_t red = post[0], green = post[1], blue = post[2], alpha = post[3];
  const bool colored = alpha != 0;
  const bool sea = e0 == 0 && e1 == 0;  // cleared, whatever the post held
  const uint8_t* darkened = r.darkened;
  const uint8_t new_red = colored ? darkened[red] : r.blend[0];
  const uint8_t new_green = colored ? darkened[green] : r.blend[1];
  const uint8_t new_blue = colored ? darkened[blue] : r.blend[2];
  const uint8_t new_alpha = colored ? alpha : 255;
  post[0] = sea ? 0 : new_red;
  post[1] = sea ? 0 : new_green;
  post[2] = sea ? 0 : new_blue;
  post[3] = sea ? 0 : new_alpha;
}

int ShadeTile(const Shade& shade, ShadeTable& table, const TileSpan& t) {
  TileFile own = TileFile::OpenInput(kModule, ElevationTileName(t.tx, t.ty));
  if (!own.is_open()) return -1;
  TileBuffer elevations = TileBuffer::Allocate(kModule, kElevationTileBytes);
  if (!elevations) return -1;
  own.ReadWhole(elevations);

  // The east neighbour gives the last column's slope; it is read whatever the region holds.
  TileFile east = TileFile::OpenInput(kModule, ElevationTileName(t.tx + 1, t.ty));
  if (!east.is_open()) return -1;
  TileBuffer east_elevations = TileBuffer::Allocate(kModule, kElevationTileBytes);
  if (!east_elevations) return -1;
  east.ReadWhole(east_elevations);

  TileFile color = TileFile::OpenOutput(kModule, ColorTileName(t.tx, t.ty));
  if (!color.is_open()) return -1;
  TileBuffer colors = TileBuffer::Allocate(kModule, kColorTileBytes);
  if (!colors) return -1;
  color.ReadWhole(colors);

  uint8_t* header = colors.data();
  SetIdentification(header, kKindColor);
  // Ambient colour, from cos a without the clamp at 0.
  const double cos_a = shade.sun.cos_a;
  uint8_t* ambient = header + TileHeader::kAmbientColorOffset;
  ambient[0] = 255;
  ambient[1] = ToByte(shade.zero.blue + (shade.full.blue - shade.zero.blue) * cos_a);
  ambient[2] = ToByte(shade.zero.green + (shade.full.green - shade.zero.green) * cos_a);
  ambient[3] = ToByte(shade.zero.red + (shade.full.red - shade.zero.red) * cos_a);

  // The post step takes its tiles by value: its byte stores could otherwise change, as far
  // as the compiler knows, the variables it would reach through references.
  const uint8_t* own_tile = elevations.data();
  const uint8_t* east_tile = east_elevations.data();
  uint8_t* color_tile = colors.data();
  ShadeTable* shade_table = &table;
  ForEachRegionRun(
      t,
      [&](int y) {
        if (y % 4 == 0) PrintRowLine(y, t.ye);
      },
      [own_tile, east_tile, color_tile, shade_table](int x0, int x1, int y, uint32_t offset) {
        const uint8_t* elevation = own_tile + offset;
        uint8_t* post = color_tile + offset;
        const int n = x1 - x0 + 1;
        // East of the run's last post: the next post of the block row, the first post of the
        // next block's row, or column 0 of the tile to the east.
        const int last_east =
            (x1 & kBlockMask) != kBlockMask ? GetS16(elevation + n * kPostSize)
            : x1 < kTileMask
                ? GetS16(elevation + n * kPostSize + kBlockBytes - kBlockPosts * kPostSize)
                : GetElevation(east_tile, 0, y);
        // The run's elevations are read before any colour is stored: both tile buffers start
        // on a page, and loads that follow stores 4096 bytes apart wait on them.
        int e[kBlockPosts + 1];
        for (int k = 0; k < n; ++k) e[k] = GetS16(elevation + k * kPostSize);
        e[n] = last_east;
        for (int k = 0; k < n; ++k) ShadePost(*shade_table, e[k], e[k + 1], post + k * kPostSize);
      });
  PrintTileLine();
  color.WriteWhole(colors);

  if (own.Close(kModule) != 0) return -1;
  if (east.Close(kModule) != 0) return -1;
  return color.Close(kModule);
}

}  // namespace

int trn_shading(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                double lon4, double lat4, const uint8_t* shade_colors, double time_of_day) {
  Shade shade;
  shade.sun = SunAt(time_of_day);
  shade.zero = Rgb{shade_colors[3], shade_colors[2], shade_colors[1]};
  shade.full = Rgb{shade_colors[7], shade_colors[6], shade_colors[5]};

  const Region region = MakeRegion(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  ShadeTable table(shade);
  return WalkRegion(region, [&](const TileSpan& t) { return ShadeTile(shade, table, t); });
}
