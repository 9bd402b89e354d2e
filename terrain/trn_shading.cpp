#include "trn_shading.h"

#include <cmath>
#include <string>

#include "tiledb.h"

namespace {

constexpr const char* kModule = "trn_shading";

struct Rgb {
  int red = 0, green = 0, blue = 0;
};

// A channel truncated toward zero to a byte (the low byte of the 32-bit conversion).
uint8_t ToByte(double v) { return static_cast<uint8_t>(TruncateToInt32(v)); }

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

// New colour post of a post at elevation e0 whose east neighbour is at e1.
void ShadePost(const Shade& shade, int e0, int e1, uint8_t* post) {
  const double s = (e1 - e0) * 2.5;
  const double nx = -s / std::sqrt(s * s + 8100);
  const double nz = std::sqrt(1 - nx * nx);
  double i = nz * shade.sun.cos_a + nx * shade.sun.sin_a;
  if (i < 0) i = 0;

  uint8_t out[4];
  if (post[3] == 0) {
    out[0] = ToByte(shade.zero.red + i * (shade.full.red - shade.zero.red));
    out[1] = ToByte(shade.zero.green + i * (shade.full.green - shade.zero.green));
    out[2] = ToByte(shade.zero.blue + i * (shade.full.blue - shade.zero.blue));
    out[3] = 255;
  } else {
    for (int c = 0; c < 3; ++c) {
      const int q = post[c] / 8;
      out[c] = ToByte(q + i * (post[c] - q));
    }
    out[3] = post[3];
  }
  if (e0 == 0 && e1 == 0) out[0] = out[1] = out[2] = out[3] = 0;  // sea
  for (int c = 0; c < 4; ++c) post[c] = out[c];
}

int ShadeTile(const Shade& shade, const TileSpan& t) {
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

  for (int y = t.ys; y <= t.ye; ++y) {
    if (y % 4 == 0) PrintRowLine(y, t.ye);
    for (int x = t.xs; x <= t.xe; ++x) {
      const int e0 = GetElevation(elevations.data(), x, y);
      const int e1 = x < kTileMask ? GetElevation(elevations.data(), x + 1, y)
                                   : GetElevation(east_elevations.data(), 0, y);
      ShadePost(shade, e0, e1, PostAt(colors.data(), x, y));
    }
  }
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
  return WalkRegion(region, [&](const TileSpan& t) { return ShadeTile(shade, t); });
}
