// The transport's operations on VehicleRecord: the record's own fields around the
// record-neutral image encoding of VehiclePacket.h.
#include "multicast/VehicleRecord.h"

#include <algorithm>

template <>
int CMulticastTransport<VehicleRecord>::InitRecord(VehicleRecord* pRecord, const char* szName,
                                                   std::int32_t iVehicleId, std::int32_t iCraftType,
                                                   const float* pfLongitude,
                                                   const float* pfLatitude,
                                                   const float* pfAltitude) {
  pRecord->iSpare = 0;
  for (float& f : pRecord->afExtra) f = 0.0f;
  for (float& f : pRecord->afSpare) f = 0.0f;
  pRecord->fSendInterval = 0.0f;
  pRecord->dOriginLongitude = MakeCode((*pfLongitude + kLongitudeOffset) * kCodesPerDegree);
  pRecord->dOriginLatitude = MakeCode((*pfLatitude + kLatitudeOffset) * kCodesPerDegree);
  pRecord->dEast = 0.0;
  pRecord->dNorth = 0.0;
  pRecord->fAltitude = *pfAltitude;
  for (float& f : pRecord->afAux1) f = 0.0f;
  pRecord->fPitch = 0.0f;
  pRecord->fRoll = 0.0f;
  pRecord->fHeading = 0.0f;
  for (float& f : pRecord->afAux2) f = 0.0f;
  pRecord->iRandomId = MakeRandomId();
  pRecord->byState = kInitialState;
  InitImage(pRecord->PacketImage, szName, iVehicleId, iCraftType, pRecord->iRandomId,
            pRecord->dOriginLongitude, pRecord->dOriginLatitude, pRecord->fAltitude);
  return 1;
}

template <>
int CMulticastTransport<VehicleRecord>::SendRecord(VehicleRecord* pRecord) {
  const VehicleState state{pRecord->dEast, pRecord->dNorth,   pRecord->fAltitude, pRecord->fPitch,
                           pRecord->fRoll, pRecord->fHeading, pRecord->byState};
  EncodeImage(pRecord->PacketImage, pRecord->dOriginLongitude, pRecord->dOriginLatitude, state,
              pRecord->fSendInterval);
  return SendPacket(pRecord->PacketImage);
}

template <>
int CMulticastTransport<VehicleRecord>::Decode(Callback pCallback, VehicleRecord* pRecord,
                                               const std::uint8_t* pImage) {
  std::copy(pImage, pImage + kPacketSize, pRecord->PacketImage);
  const VehicleState state =
      DecodeImage(pRecord->PacketImage, pRecord->dOriginLongitude, pRecord->dOriginLatitude);
  pRecord->dEast = state.dEast;
  pRecord->dNorth = state.dNorth;
  pRecord->fAltitude = static_cast<float>(state.dAltitude);
  pRecord->fPitch = static_cast<float>(state.dPitch);
  pRecord->fRoll = static_cast<float>(state.dRoll);
  pRecord->fHeading = static_cast<float>(state.dHeading);
  pRecord->byState = state.byState;
  return pCallback ? pCallback(pRecord) : 0;
}
