#include "DataFileName.h"

#include <cstdio>

namespace playback {

// The '0' flag has no effect beside the precision; the format stays as the playback knows it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
std::string FormatDataFileName(const char* baseName, std::int32_t vehicle) {
  static constexpr char kFormat[] = "%s%0.2d.dat";
  const int length = std::snprintf(nullptr, 0, kFormat, baseName, vehicle);
  std::string name(static_cast<std::size_t>(length), '\0');
  std::snprintf(name.data(), name.size() + 1, kFormat, baseName, vehicle);
  return name;
}
#pragma GCC diagnostic pop

}  // namespace playback
