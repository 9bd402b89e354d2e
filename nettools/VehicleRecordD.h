#pragma once
// The test programs' vehicle record: the fields of VehicleRecord in the same order, with the
// altitude, the attitude angles and the two auxiliary triples held as doubles. Its operations build
// and read exactly the same 304-byte packet as VehicleRecord's.

#include <cstdint>

#include "multicast/MulticastTransport.h"
#include "multicast/VehiclePacket.h"

struct VehicleRecordD {
  std::int32_t iSpare;
  float afExtra[4];
  float afSpare[6];
  double dOriginLongitude;  // longitude code of the reference position, read as an int32
  double dOriginLatitude;   // latitude code of the reference position
  double dEast;             // feet east of the reference position
  double dNorth;            // feet north of the reference position
  double dAltitude;         // feet
  double adAux1[3];         // pitch, roll, heading order; carried, never encoded
  double dPitch;            // degrees
  double dRoll;             // degrees; the drones' bank angle
  double dHeading;          // degrees clockwise from north
  double adAux2[3];         // pitch, roll, heading order; carried, never encoded
  std::uint8_t byState;
  std::int32_t iRandomId;
  std::uint8_t
      PacketImage[kPacketSize];  // the packet reversed byte for byte; name and tag held forward
  float fSendInterval;           // seconds since the last send: the divisor of every rate
};

// The code of a reference position's longitude and latitude, as InitRecord keeps them.
double OriginLongitudeCode(float fLongitude);
double OriginLatitudeCode(float fLatitude);

// The transport's operations on this record (VehicleRecordD.cpp), building and reading the
// same packet as VehicleRecord's.
template <>
int CMulticastTransport<VehicleRecordD>::InitRecord(
    VehicleRecordD* pRecord, const char* szName, std::int32_t iVehicleId, std::int32_t iCraftType,
    const float* pfLongitude, const float* pfLatitude, const float* pfAltitude);
template <>
int CMulticastTransport<VehicleRecordD>::SendRecord(VehicleRecordD* pRecord);
template <>
int CMulticastTransport<VehicleRecordD>::Decode(Callback pCallback, VehicleRecordD* pRecord,
                                                const std::uint8_t* pImage);
