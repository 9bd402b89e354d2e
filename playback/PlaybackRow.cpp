#include "PlaybackRow.h"

#include <array>

#include "ValueFormat.h"

namespace playback {

void WriteRow(std::ostream& out, const double* const* values, std::int32_t count) {
  // Values are gathered in blocks so that a row costs a few stream calls, not two per value.
  std::array<char, 2048> text;
  // Room for one more value, its tab and the line end.
  constexpr std::size_t kLimit = 2048 - (kMaxGeneral6Length + 2);
  std::size_t used = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    if (used > kLimit) {
      out.write(text.data(), static_cast<std::streamsize>(used));
      used = 0;
    }
    used += FormatGeneral6(*values[i], text.data() + used);
    text[used++] = '\t';
  }
  text[used++] = '\n';
  out.write(text.data(), static_cast<std::streamsize>(used));
  out.flush();
}

}  // namespace playback
