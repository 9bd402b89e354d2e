#pragma once
// The 304-byte vehicle packet and its little-endian image.
//
// Every numeric field of the packet is big-endian on the wire. A record holds the packet as an
// image reversed byte for byte (image byte i is wire byte 303 - i), so a field at wire offset w
// of size s lies at image offset 304 - w - s as an ordinary little-endian field. The vehicle
// name and the tag are the exceptions: the image holds them forward (tag at image 258-261,
// name at 262-293) and they are copied forward into their wire places.
//
// Everything here is independent of the record type: a record's InitRecord, SendRecord and
// Decode copy their own fields into a VehicleState and call InitImage, EncodeImage and
// DecodeImage, so every record variant builds and reads exactly the same packet.

#include <cstdint>

inline constexpr int kPacketSize = 304;

// Wire offsets of the fields (sizes in the comments where not 4).
namespace wire {
inline constexpr int kReserved0 = 0;
inline constexpr int kName = 4;  // 32 characters
inline constexpr int kNameSize = 32;
inline constexpr int kTag = 36;  // 4 characters
inline constexpr int kTagSize = 4;
inline constexpr int kReserved40 = 40;  // 6 bytes
inline constexpr int kFixed46 = 46;     // uint16
inline constexpr int kInstanceId = 48;
inline constexpr int kVehicleId = 52;
inline constexpr int kFixed56 = 56;
inline constexpr int kReserved60 = 60;
inline constexpr int kReserved64 = 64;
inline constexpr int kReserved68 = 68;
inline constexpr int kReserved72 = 72;
inline constexpr int kCraftType = 76;
inline constexpr int kState = 80;       // 1 byte
inline constexpr int kReserved81 = 81;  // 3 bytes
inline constexpr int kReserved84 = 84;
inline constexpr int kFixed88 = 88;
inline constexpr int kReserved92 = 92;
inline constexpr int kReserved96 = 96;
inline constexpr int kLongitude = 100;
inline constexpr int kLatitude = 104;
inline constexpr int kAltitude = 108;
inline constexpr int kLongitudeRate = 112;
inline constexpr int kLatitudeRate = 116;
inline constexpr int kAltitudeRate = 120;
inline constexpr int kLongitudeAccel = 124;
inline constexpr int kLatitudeAccel = 128;
inline constexpr int kAltitudeAccel = 132;
inline constexpr int kPitch = 136;
inline constexpr int kRoll = 140;
inline constexpr int kHeading = 144;
inline constexpr int kPitchRate = 148;
inline constexpr int kRollRate = 152;
inline constexpr int kHeadingRate = 156;
inline constexpr int kReserved160 = 160;
inline constexpr int kReserved164 = 164;
inline constexpr int kReserved168 = 168;  // 2 bytes
inline constexpr int kReserved170 = 170;  // uint16
inline constexpr int kReserved172 = 172;  // uint16
inline constexpr int kReserved174 = 174;  // uint16
inline constexpr int kReserved176 = 176;  // 128 bytes
}  // namespace wire

// Forward places of the tag and the name in the image, and the image spot under the name's
// first wire bytes that InitRecord fills with 0x10000 (it never reaches the wire).
inline constexpr int kImageTag = 258;
inline constexpr int kImageName = 262;
inline constexpr int kImageNameShadow = 296;

// Constant fields.
inline constexpr std::uint16_t kFixed46Value = 20;
inline constexpr std::int32_t kFixed56Value = -1;
inline constexpr std::int32_t kFixed88Value = 0x7FFE07FF;
inline constexpr std::int32_t kNameShadowValue = 0x10000;
inline constexpr std::uint8_t kInitialState = 127;

// Scalings, all doubles.
inline constexpr double kCodesPerDegree = 9830400.0;  // 150 x 65536
inline constexpr double kLongitudeOffset = 180.0;
inline constexpr double kLatitudeOffset = 90.0;
inline constexpr double kCodesPerFoot = 26.91521512;
inline constexpr double kFeetPerCode = 0.03715370639029097;
inline constexpr double kAngleCodesPerDegree = 182.0444444;
inline constexpr double kDegreesPerAngleCode = 0.005493164063841104;
inline constexpr double kLatitudeCodeScale = 1.130280671e-9;

// The code of a real value: truncated toward zero to 64 bits, its low 32 bits read as an
// int32. NaN, infinities and values beyond 64 bits give 0, as the x86 conversion's
// out-of-range result does.
std::int32_t MakeCode(double dValue);

// 1 - |code x 1.130280671e-9 - 1|: how a degree of longitude shrinks at that latitude code.
double LongitudeFactor(std::int32_t iLatitudeCode);

// Image <-> packet, each into a separate 304-byte buffer.
void ImageToWire(const std::uint8_t* pImage, std::uint8_t* pWire);
void WireToImage(const std::uint8_t* pWire, std::uint8_t* pImage);

// Little-endian fields of an image, addressed by their wire offset.
void PutImageInt32(std::uint8_t* pImage, int iWireOffset, std::int32_t iValue);
std::int32_t GetImageInt32(const std::uint8_t* pImage, int iWireOffset);
void PutImageUint16(std::uint8_t* pImage, int iWireOffset, std::uint16_t usValue);
std::uint16_t GetImageUint16(const std::uint8_t* pImage, int iWireOffset);
void PutImageFloat(std::uint8_t* pImage, int iWireOffset, float fValue);
float GetImageFloat(const std::uint8_t* pImage, int iWireOffset);
void PutImageByte(std::uint8_t* pImage, int iWireOffset, std::uint8_t byValue);
std::uint8_t GetImageByte(const std::uint8_t* pImage, int iWireOffset);

// What a record's operations exchange with the image, widened to double.
struct VehicleState {
  double dEast;
  double dNorth;
  double dAltitude;
  double dPitch;
  double dRoll;
  double dHeading;
  std::uint8_t byState;
};

// InitRecord's image: name forward (at most 31 characters, NUL-filled), identifiers, craft
// type, constants, state 127, zero fields, the reference position's codes, the altitude's
// code, rates and angles 0. The tag, wire bytes 0-3, 168-169 and 176-303 stay as they were.
void InitImage(std::uint8_t* pImage, const char* szName, std::int32_t iVehicleId,
               std::int32_t iCraftType, std::int32_t iRandomId, double dOriginLongitude,
               double dOriginLatitude, double dAltitude);

// SendRecord's encoding: new codes from the state, and their rates against the codes and rates
// the image held, over fSendInterval seconds (all rates 0 unless it is above 0).
void EncodeImage(std::uint8_t* pImage, double dOriginLongitude, double dOriginLatitude,
                 const VehicleState& state, float fSendInterval);

// Decode's conversion of an image back to feet and degrees relative to the given origins.
VehicleState DecodeImage(const std::uint8_t* pImage, double dOriginLongitude,
                         double dOriginLatitude);
