// The name of a playback data file: flightlog writes it, flightcue declares it.
#pragma once

#include <cstdint>
#include <string>

namespace playback {

// "%s%0.2d.dat": the base name unchanged, then the vehicle number with at least two digits
// ("03", "123", "-01").
std::string FormatDataFileName(const char* baseName, std::int32_t vehicle);

}  // namespace playback
