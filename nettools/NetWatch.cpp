#include "NetWatch.h"

#include <cstdio>
#include <cstring>

#include "Drones.h"
#include "Run.h"
#include "clocks.h"
#include "multicast/MulticastTransport.h"
#include "multicast/VehiclePacket.h"

namespace netwatch {

VehicleRecordD receiver;

int PrintVehicle(VehicleRecordD* record) {
  // The name field need not end in a NUL, nor the tag.
  char name[33] = {};
  char tag[5] = {};
  std::memcpy(name, record->PacketImage + kImageName, 32);
  std::memcpy(tag, record->PacketImage + kImageTag, 4);
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
