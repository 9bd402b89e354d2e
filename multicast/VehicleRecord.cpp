// The VehicleRecord operations of the transport: the record's own fields around the
// record-neutral image encoding of VehiclePacket.h.
#include <algorithm>

#include "multicast/MulticastTransport.h"

int CMulticastTransport::InitRecord(MulticastRecord* pRecord, const char* szName,
                                    std::int32_t iVehicleId, std::int32_t iCraftType,
                                    const float* pfLongitude, const float* pfLatitude,
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

int CMulticastTransport::SendRecord(MulticastRecord* pRecord) {
  const VehicleState state{pRecord->dEast, pRecord->dNorth,   pRecord->fAltitude, pRecord->fPitch,
                           pRecord->fRoll, pRecord->fHeading, pRecord->byState};
  EncodeImage(pRecord->PacketImage, pRecord->dOriginLongitude, pRecord->dOriginLatitude, state,
              pRecord->fSendInterval);
  return SendPacket(pRecord->PacketImage);
}

int CMulticastTransport::Decode(MulticastCallback pCallback, MulticastRecord* pRecord,
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
