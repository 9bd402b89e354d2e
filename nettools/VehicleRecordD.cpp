// The transport's operations on VehicleRecordD: the same packet as VehicleRecord's, from
// double-precision altitude and angles.
#include "VehicleRecordD.h"

#include <cstring>

double OriginLongitudeCode(float fLongitude) {
  return MakeCode((fLongitude + kLongitudeOffset) * kCodesPerDegree);
}

double OriginLatitudeCode(float fLatitude) {
  return MakeCode((fLatitude + kLatitudeOffset) * kCodesPerDegree);
}

template <>
int CMulticastTransport<VehicleRecordD>::InitRecord(
    VehicleRecordD* pRecord, const char* szName, std::int32_t iVehicleId, std::int32_t iCraftType,
    const float* pfLongitude, const float* pfLatitude, const float* pfAltitude) {
  VehicleRecordD& record = *pRecord;
  record.iSpare = 0;
  std::memset(record.afExtra, 0, sizeof record.afExtra);
  std::memset(record.afSpare, 0, sizeof record.afSpare);
  record.fSendInterval = 0.0f;
  record.dOriginLongitude = OriginLongitudeCode(*pfLongitude);
  record.dOriginLatitude = OriginLatitudeCode(*pfLatitude);
  record.dEast = 0.0;
  record.dNorth = 0.0;
  record.dAltitude = *pfAltitude;
  for (double& aux : record.adAux1) aux = 0.0;
  record.dPitch = 0.0;
  record.dRoll = 0.0;
  record.dHeading = 0.0;
  for (double& aux : record.adAux2) aux = 0.0;
  record.iRandomId = MakeRandomId();
  record.byState = kInitialState;
  InitImage(record.PacketImage, szName, iVehicleId, iCraftType, record.iRandomId,
            record.dOriginLongitude, record.dOriginLatitude, record.dAltitude);
  return 1;
}

template <>
int CMulticastTransport<VehicleRecordD>::SendRecord(VehicleRecordD* pRecord) {
  const VehicleRecordD& record = *pRecord;
  const VehicleState state{record.dEast, record.dNorth,   record.dAltitude, record.dPitch,
                           record.dRoll, record.dHeading, record.byState};
  EncodeImage(pRecord->PacketImage, record.dOriginLongitude, record.dOriginLatitude, state,
              record.fSendInterval);
  return SendPacket(pRecord->PacketImage);
}

template <>
int CMulticastTransport<VehicleRecordD>::Decode(Callback pCallback, VehicleRecordD* pRecord,
                                                const std::uint8_t* pImage) {
  VehicleRecordD& record = *pRecord;
  std::memcpy(record.PacketImage, pImage, kPacketSize);
  const VehicleState state =
      DecodeImage(record.PacketImage, record.dOriginLongitude, record.dOriginLatitude);
  record.dEast = state.dEast;
  record.dNorth = state.dNorth;
  record.dAltitude = state.dAltitude;
  record.dPitch = state.dPitch;
  record.dRoll = state.dRoll;
  record.dHeading = state.dHeading;
  record.byState = state.byState;
  return pCallback ? pCallback(pRecord) : 0;
}
