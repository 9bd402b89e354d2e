#include "NetWatch.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "Drones.h"
#include "Run.h"
#include "clocks.h"
#include "multicast/MulticastTransport.h"
#include "multicast/VehiclePacket.h"

namespace netwatch {

VehicleRecordD receiver;

namespace {

// A name or tag field as printed: its bytes up to the first NUL or the field's end (it need not
// hold a NUL), each control byte (below 0x20, 0x7F, 0x80 to 0x9F) as \xNN, so that no sender can
// move the operator's cursor, ring the bell or break the one line per packet. Every other byte,
// the backslash included, prints as it is. `out` has room for four characters a byte and a NUL.
void PrintableField(const std::uint8_t* field, std::size_t size, char* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < size && field[i] != 0; ++i) {
    const std::uint8_t c = field[i];
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      *out++ = '\\';
      *out++ = 'x';
      *out++ = kHex[c >> 4];
      *out++ = kHex[c & 0xF];
    } else {
      *out++ = static_cast<char>(c);
    }
  }
  *out = '\0';
}

}  // namespace

int PrintVehicle(VehicleRecordD* record) {
  char name[4 * 32 + 1];
  char tag[4 * 4 + 1];
  PrintableField(record->PacketImage + kImageName, 32, name);
  PrintableField(record->PacketImage + kImageTag, 4, tag);
  return std::printf("%i %i %4.1g %4.1g %4.1f %4.1f %4.1f %4.1f %s %s\n",
                     GetImageInt32(record->PacketImage, wire::kInstanceId),
                     GetImageInt32(record->PacketImage, wire::kVehicleId), record->dEast,
                     record->dNorth, record->dAltitude, record->dPitch, record->dRoll,
                     record->dHeading, name, tag);
}

void SetReferencePosition(VehicleRecordD& record) {
  record.dOriginLongitude = OriginLongitudeCode(drones::kStartLongitude);
  record.dOriginLatitude = OriginLatitudeCode(drones::kStartLatitude);
}

int Watch() {
  nettools::OpenGroup();
  uint32_t previous = GetTickCount();
  float total = 0.0f;
  for (;;) {
    const uint32_t now = GetTickCount();
    const uint32_t elapsed =
        now - previous;  // unsigned: the tick count's wrap still gives the step
    total = nettools::AddMilliseconds(total, elapsed);
    if (total > nettools::kRunSeconds) break;
    MulticastPoll(PrintVehicle, &receiver);
    previous = now;
  }
  nettools::CloseGroup(total);
  return 0;
}

}  // namespace netwatch
