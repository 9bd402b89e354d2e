#include "NetWatch.h"

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Drones.h"
#include "Run.h"
#include "clocks.h"
#include "multicast/MulticastTransport.h"
#include "multicast/VehiclePacket.h"
#include "support/PrintableText.h"

namespace netwatch {

VehicleRecordD receiver;

namespace {

// A name or tag field as printed: its bytes up to the first NUL or the field's end (it need not
// hold a NUL), its control bytes as \xNN (PrintableText), so that no sender can drive the
// operator's terminal or break the one line per packet.
std::string PrintableField(const std::uint8_t* field, std::size_t size) {
  const std::uint8_t* const end = std::find(field, field + size, 0);
  return PrintableText(std::string_view(reinterpret_cast<const char*>(field),
                                        static_cast<std::size_t>(end - field)));
}

}  // namespace

int PrintVehicle(VehicleRecordD* record) {
  const std::string name = PrintableField(record->PacketImage + kImageName, 32);
  const std::string tag = PrintableField(record->PacketImage + kImageTag, 4);
  return nettools::PrintLine(STDOUT_FILENO, "%i %i %4.1g %4.1g %4.1f %4.1f %4.1f %4.1f %s %s\n",
                             GetImageInt32(record->PacketImage, wire::kInstanceId),
                             GetImageInt32(record->PacketImage, wire::kVehicleId), record->dEast,
                             record->dNorth, record->dAltitude, record->dPitch, record->dRoll,
                             record->dHeading, name.c_str(), tag.c_str());
}

void SetReferencePosition(VehicleRecordD& record) {
  record.dOriginLongitude = OriginLongitudeCode(drones::kStartLongitude);
  record.dOriginLatitude = OriginLatitudeCode(drones::kStartLatitude);
}

int Watch() {
  nettools::ResetOutput();
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
    // A line that could not be written ends the run; the poll printed nothing after it.
    if (nettools::OutputFailed()) break;
    previous = now;
  }
  return nettools::EndRun("netwatch", total);
}

}  // namespace netwatch
