#pragma once
// Host-side state of one vehicle in skycast and skypush. The packet travels inside the record
// as a little-endian image of the wire datagram (VehiclePacket.h). A record owns nothing and
// is copied whole by value.

#include <cstdint>

#include "multicast/MulticastTransport.h"
#include "multicast/VehiclePacket.h"

struct VehicleRecord {
  std::int32_t iSpare;      // carried between MATLAB and the record, never encoded
  float afExtra[4];         // filled by the callers from their input vector, never encoded
  float afSpare[6];         // never encoded
  double dOriginLongitude;  // longitude code of the reference position, read as an int32
  double dOriginLatitude;   // latitude code of the reference position
  double dEast;             // feet east of the reference position
  double dNorth;            // feet north of the reference position
  float fAltitude;          // feet
  float afAux1[3];          // pitch, roll, heading order; carried, never encoded
  float fPitch;             // degrees
  float fRoll;              // degrees
  float fHeading;           // degrees
  float afAux2[3];          // pitch, roll, heading order; carried, never encoded
  std::uint8_t byState;     // copied into every packet sent and out of every packet received
  std::int32_t iRandomId;   // MakeRandomId's value at initialisation
  std::uint8_t PacketImage[kPacketSize];
  float fSendInterval;  // seconds since the last send: the divisor of every rate
};

// Called once per received packet with the record it has just been decoded into; every packet
// of one poll goes into the same record, so the callback copies what it keeps. Its result is
// ignored.
typedef int (*VehicleCallback)(VehicleRecord* pRecord);

// The transport's operations on this record (VehicleRecord.cpp): InitRecord sets the record up
// at its reference position, SendRecord encodes it and sends the packet, Decode converts a
// received image back into it and calls the callback.
template <>
int CMulticastTransport<VehicleRecord>::InitRecord(VehicleRecord* pRecord, const char* szName,
                                                   std::int32_t iVehicleId, std::int32_t iCraftType,
                                                   const float* pfLongitude,
                                                   const float* pfLatitude,
                                                   const float* pfAltitude);
template <>
int CMulticastTransport<VehicleRecord>::SendRecord(VehicleRecord* pRecord);
template <>
int CMulticastTransport<VehicleRecord>::Decode(VehicleCallback pCallback, VehicleRecord* pRecord,
                                               const std::uint8_t* pImage);
