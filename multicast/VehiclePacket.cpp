#include "VehiclePacket.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <initializer_list>

namespace {

int ImageOffset(int iWireOffset, int iSize) { return kPacketSize - iWireOffset - iSize; }

void PutLittle(std::uint8_t* p, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetLittle(const std::uint8_t* p, int size) {
  std::uint32_t value = 0;
  for (int i = 0; i < size; ++i) value |= static_cast<std::uint32_t>(p[i]) << (8 * i);
  return value;
}

}  // namespace

// The nine rate fields.
static void ClearRates(std::uint8_t* pImage) {
  for (int w : {wire::kLongitudeRate, wire::kLatitudeRate, wire::kAltitudeRate,
                wire::kLongitudeAccel, wire::kLatitudeAccel, wire::kAltitudeAccel, wire::kPitchRate,
                wire::kRollRate, wire::kHeadingRate}) {
    PutImageFloat(pImage, w, 0.0f);
  }
}

std::int32_t MakeCode(double dValue) {
  // Within (-2^63, 2^63) the truncation is defined; everything else is the x86 "integer
  // indefinite" 0x8000000000000000, whose low 32 bits are 0.
  if (!(dValue > -9223372036854775808.0 && dValue < 9223372036854775808.0)) return 0;
  const auto truncated = static_cast<std::int64_t>(dValue);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(truncated));
}

double LongitudeFactor(std::int32_t iLatitudeCode) {
  return 1.0 - std::fabs(iLatitudeCode * kLatitudeCodeScale - 1.0);
}

void ImageToWire(const std::uint8_t* pImage, std::uint8_t* pWire) {
  for (int i = 0; i < kPacketSize; ++i) pWire[i] = pImage[kPacketSize - 1 - i];
  std::memcpy(pWire + wire::kName, pImage + kImageName, wire::kNameSize);
  std::memcpy(pWire + wire::kTag, pImage + kImageTag, wire::kTagSize);
}

void WireToImage(const std::uint8_t* pWire, std::uint8_t* pImage) {
  for (int i = 0; i < kPacketSize; ++i) pImage[i] = pWire[kPacketSize - 1 - i];
  std::memcpy(pImage + kImageName, pWire + wire::kName, wire::kNameSize);
  std::memcpy(pImage + kImageTag, pWire + wire::kTag, wire::kTagSize);
}

void PutImageInt32(std::uint8_t* pImage, int iWireOffset, std::int32_t iValue) {
  PutLittle(pImage + ImageOffset(iWireOffset, 4), static_cast<std::uint32_t>(iValue), 4);
}

std::int32_t GetImageInt32(const std::uint8_t* pImage, int iWireOffset) {
  return static_cast<std::int32_t>(GetLittle(pImage + ImageOffset(iWireOffset, 4), 4));
}

void PutImageUint16(std::uint8_t* pImage, int iWireOffset, std::uint16_t usValue) {
  PutLittle(pImage + ImageOffset(iWireOffset, 2), usValue, 2);
}

std::uint16_t GetImageUint16(const std::uint8_t* pImage, int iWireOffset) {
  return static_cast<std::uint16_t>(GetLittle(pImage + ImageOffset(iWireOffset, 2), 2));
}

void PutImageFloat(std::uint8_t* pImage, int iWireOffset, float fValue) {
  PutLittle(pImage + ImageOffset(iWireOffset, 4), std::bit_cast<std::uint32_t>(fValue), 4);
}

float GetImageFloat(const std::uint8_t* pImage, int iWireOffset) {
  return std::bit_cast<float>(GetLittle(pImage + ImageOffset(iWireOffset, 4), 4));
}

void PutImageByte(std::uint8_t* pImage, int iWireOffset, std::uint8_t byValue) {
  pImage[ImageOffset(iWireOffset, 1)] = byValue;
}

std::uint8_t GetImageByte(const std::uint8_t* pImage, int iWireOffset) {
  return pImage[ImageOffset(iWireOffset, 1)];
}

void InitImage(std::uint8_t* pImage, const char* szName, std::int32_t iVehicleId,
               std::int32_t iCraftType, std::int32_t iRandomId, double dOriginLongitude,
               double dOriginLatitude, double dAltitude) {
  char achName[wire::kNameSize] = {};
  if (szName) std::strncpy(achName, szName, wire::kNameSize - 1);
  achName[wire::kNameSize - 1] = '\0';
  std::memcpy(pImage + kImageName, achName, wire::kNameSize);

  PutLittle(pImage + kImageNameShadow, static_cast<std::uint32_t>(kNameShadowValue), 4);
  PutImageInt32(pImage, wire::kFixed56, kFixed56Value);
  PutImageInt32(pImage, wire::kVehicleId, iVehicleId);
  PutImageInt32(pImage, wire::kInstanceId, iRandomId);
  PutImageUint16(pImage, wire::kFixed46, kFixed46Value);
  PutImageInt32(pImage, wire::kFixed88, kFixed88Value);
  PutImageInt32(pImage, wire::kCraftType, iCraftType);
  PutImageByte(pImage, wire::kState, kInitialState);

  for (int w : {wire::kReserved60, wire::kReserved64, wire::kReserved68, wire::kReserved72,
                wire::kReserved84, wire::kReserved92, wire::kReserved96, wire::kReserved160,
                wire::kReserved164}) {
    PutImageInt32(pImage, w, 0);
  }
  for (int i = 0; i < 3; ++i) PutImageByte(pImage, wire::kReserved81 + i, 0);
  for (int w : {wire::kReserved170, wire::kReserved172, wire::kReserved174}) {
    PutImageUint16(pImage, w, 0);
  }

  PutImageInt32(pImage, wire::kLongitude, MakeCode(dOriginLongitude));
  PutImageInt32(pImage, wire::kLatitude, MakeCode(dOriginLatitude));
  PutImageInt32(pImage, wire::kAltitude, MakeCode(dAltitude * kCodesPerFoot));
  ClearRates(pImage);
  for (int w : {wire::kPitch, wire::kRoll, wire::kHeading}) PutImageInt32(pImage, w, 0);
}

void EncodeImage(std::uint8_t* pImage, double dOriginLongitude, double dOriginLatitude,
                 const VehicleState& state, float fSendInterval) {
  const double prevLongitude = GetImageInt32(pImage, wire::kLongitude);
  const double prevLatitude = GetImageInt32(pImage, wire::kLatitude);
  const double prevAltitude = GetImageInt32(pImage, wire::kAltitude);
  const double prevLongitudeRate = GetImageFloat(pImage, wire::kLongitudeRate);
  const double prevLatitudeRate = GetImageFloat(pImage, wire::kLatitudeRate);
  const double prevAltitudeRate = GetImageFloat(pImage, wire::kAltitudeRate);
  const double prevPitch = GetImageInt32(pImage, wire::kPitch);
  const double prevRoll = GetImageInt32(pImage, wire::kRoll);
  const double prevHeading = GetImageInt32(pImage, wire::kHeading);

  PutImageByte(pImage, wire::kState, state.byState);

  const std::int32_t iLatitude = MakeCode(state.dNorth * kCodesPerFoot + dOriginLatitude);
  const double f = LongitudeFactor(iLatitude);
  // At a pole every longitude is the same point: the east offset has no meaning there, and
  // dividing by a factor of 0 would give no number.
  const std::int32_t iLongitude =
      f == 0.0 ? MakeCode(dOriginLongitude)
               : MakeCode(state.dEast * kCodesPerFoot / f + dOriginLongitude);
  const std::int32_t iAltitude = MakeCode(state.dAltitude * kCodesPerFoot);
  const std::int32_t iPitch = MakeCode(state.dPitch * kAngleCodesPerDegree);
  const std::int32_t iRoll = MakeCode(state.dRoll * kAngleCodesPerDegree);
  const std::int32_t iHeading = MakeCode(state.dHeading * -kAngleCodesPerDegree);
  PutImageInt32(pImage, wire::kLatitude, iLatitude);
  PutImageInt32(pImage, wire::kLongitude, iLongitude);
  PutImageInt32(pImage, wire::kAltitude, iAltitude);
  PutImageInt32(pImage, wire::kPitch, iPitch);
  PutImageInt32(pImage, wire::kRoll, iRoll);
  PutImageInt32(pImage, wire::kHeading, iHeading);

  if (fSendInterval > 0.0f) {
    const double T = fSendInterval;
    const auto longitudeRate = static_cast<float>((iLongitude - prevLongitude) / T);
    const auto latitudeRate = static_cast<float>((iLatitude - prevLatitude) / T);
    const auto altitudeRate = static_cast<float>((iAltitude - prevAltitude) / T);
    PutImageFloat(pImage, wire::kLongitudeRate, longitudeRate);
    PutImageFloat(pImage, wire::kLatitudeRate, latitudeRate);
    PutImageFloat(pImage, wire::kAltitudeRate, altitudeRate);
    PutImageFloat(pImage, wire::kLongitudeAccel,
                  static_cast<float>((longitudeRate - prevLongitudeRate) / T));
    PutImageFloat(pImage, wire::kLatitudeAccel,
                  static_cast<float>((latitudeRate - prevLatitudeRate) / T));
    PutImageFloat(pImage, wire::kAltitudeAccel,
                  static_cast<float>((altitudeRate - prevAltitudeRate) / T));
    PutImageFloat(pImage, wire::kPitchRate, static_cast<float>((iPitch - prevPitch) / T));
    PutImageFloat(pImage, wire::kRollRate, static_cast<float>((iRoll - prevRoll) / T));
    PutImageFloat(pImage, wire::kHeadingRate, static_cast<float>((iHeading - prevHeading) / T));
  } else {
    ClearRates(pImage);
  }
}

VehicleState DecodeImage(const std::uint8_t* pImage, double dOriginLongitude,
                         double dOriginLatitude) {
  const std::int32_t iLatitude = GetImageInt32(pImage, wire::kLatitude);
  const double f = LongitudeFactor(iLatitude);
  VehicleState state{};
  state.dEast = f * (GetImageInt32(pImage, wire::kLongitude) - dOriginLongitude) * kFeetPerCode;
  state.dNorth = (iLatitude - dOriginLatitude) * kFeetPerCode;
  state.dAltitude = GetImageInt32(pImage, wire::kAltitude) * kFeetPerCode;
  state.dPitch = GetImageInt32(pImage, wire::kPitch) * kDegreesPerAngleCode;
  state.dRoll = GetImageInt32(pImage, wire::kRoll) * kDegreesPerAngleCode;
  state.dHeading = GetImageInt32(pImage, wire::kHeading) * kDegreesPerAngleCode;
  state.byState = GetImageByte(pImage, wire::kState);
  return state;
}
