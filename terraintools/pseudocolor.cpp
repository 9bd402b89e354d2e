#include "pseudocolor.h"

namespace {

constexpr double kDrawScale = 0.0006103701895199438;  // 20 / 32767
constexpr uint32_t kAlpha = 250;

// Channels given as real numbers are truncated toward zero; each keeps its low 8 bits.
uint32_t Pack(int64_t red, int64_t green, int64_t blue) {
  return (static_cast<uint32_t>(red) & 0xFF) | (static_cast<uint32_t>(green) & 0xFF) << 8 |
         (static_cast<uint32_t>(blue) & 0xFF) << 16 | kAlpha << 24;
}

int64_t Trunc(double v) { return static_cast<int64_t>(v); }

// A noise value -10..10 from a fresh draw.
int64_t Noise(PseudoRandom& draws) { return Trunc(draws.Next() * kDrawScale - 10); }

}  // namespace

uint32_t ElevationPseudoColor(int32_t elevation, PseudoRandom& draws) {
  const int64_t a = elevation;
  if (a <= 10) {
    // Only the low 8 bits of 10 a count, negative elevations included.
    const int64_t grey = (a * 10) & 0xFF;
    return Pack(grey, grey, 200);
  }
  if (a <= 20) {
    const int64_t n = Noise(draws);
    return Pack(230 + n, 215 + n, 180 + n);
  }
  int64_t jittered = a + (100 * int64_t{draws.Next()}) / 32767 - 50;
  if (jittered <= 20) jittered = 20;
  if (jittered <= 500) {
    const int64_t e = (10 * (500 - jittered)) / 48;
    const int64_t red = e + 40;
    const int64_t green = Trunc(0.6 * e + 180);
    const int64_t n = Noise(draws);
    return Pack(red, green, Trunc(n + 0.2 * e + 90));
  }
  if (jittered <= 2000) {
    const int64_t f = (jittered - 500) / 150;
    const int64_t n = Noise(draws);
    return Pack(Trunc(2 * n + 0.5 * f + 160), Trunc(n + 0.6 * f + 120), Trunc(n + 0.8 * f + 70));
  }
  if (jittered <= 3500) {
    const int64_t k = Trunc(10 - draws.Next() * kDrawScale);
    int64_t grey = (jittered - 2000) / 10 - k + 100;
    if (grey > 250) grey = 250;
    return Pack(grey, grey, grey);
  }
  int64_t v = Trunc(draws.Next() * kDrawScale - 15);
  if (v > 0) v = 0;
  return Pack(250 + v, 250 + v, 250 + v);
}
