#include "MATLAB2Network.h"

#include <cstdio>
#include <cstring>

#include "multicast/MulticastTransport.h"
#include "multicast/VehiclePacket.h"
#include "platform/clocks/clocks.h"

std::int32_t bConnected = 0;
std::int32_t iVehicleCount = 0;
std::list<VehicleRecord> ReceivedQueue;

namespace {

constexpr char kGroupAddress[] = "224.0.5.20:2267";

// Wire bytes 176 to 303 are image bytes 0 to 127.
constexpr int kReserved176Size = kPacketSize - wire::kReserved176;

}  // namespace

CMATLAB2Network::CMATLAB2Network() = default;

CMATLAB2Network::~CMATLAB2Network() = default;

bool CMATLAB2Network::Connect() {
  if (bConnected) return true;
  // The transport cuts the text while parsing it, so it gets a writable copy.
  char szAddress[sizeof kGroupAddress];
  std::memcpy(szAddress, kGroupAddress, sizeof kGroupAddress);
  char* apszAddresses[1] = {szAddress};
  bConnected = MulticastOpen<VehicleRecord>(1, apszAddresses) == 0 ? 1 : 0;
  return bConnected != 0;
}

bool CMATLAB2Network::InitVehicle(std::int32_t iCraftType, double dLongitude, double dLatitude,
                                  double dAltitude, const char* pszName) {
  ++iVehicleCount;
  char szName[32];
  if (pszName == nullptr) {
    // "airhost_%0.2d": the 0 flag is void beside a precision, so this is the same text.
    std::snprintf(szName, sizeof szName, "airhost_%.2d", iVehicleCount);
    pszName = szName;
  }
  float fLongitude = static_cast<float>(dLongitude);
  float fLatitude = static_cast<float>(dLatitude);
  float fAltitude = static_cast<float>(dAltitude);
  const int iInit =
      MulticastInitRecord(&Vehicle, pszName, 0, iCraftType, &fLongitude, &fLatitude, &fAltitude);
  std::memcpy(&Vehicle.PacketImage[kImageTag], "none", wire::kTagSize);
  std::memset(&Vehicle.PacketImage[0], 0, kReserved176Size);
  // High byte: the low byte of the tick count; low byte: the vehicle count.
  const std::uint32_t uId = ((static_cast<std::uint32_t>(GetTickCount()) << 8) +
                             static_cast<std::uint32_t>(iVehicleCount)) &
                            0xFFFFu;
  PutImageInt32(Vehicle.PacketImage, wire::kVehicleId, static_cast<std::int32_t>(uId));
  PutImageInt32(Vehicle.PacketImage, wire::kInstanceId, static_cast<std::int32_t>(uId));
  bFirstReading = 1;
  return Connect() && iInit == 1;
}

bool CMATLAB2Network::Send() {
  if (!Connect()) return false;
  return MulticastSendRecord(&Vehicle) == 0;
}

double CMATLAB2Network::GetSendInterval() {
  if (bFirstReading) {
    Timer.StartTimer();
    bFirstReading = 0;
  }
  return Timer.GetLapTime(0);
}

bool CMATLAB2Network::IsTimeToSend(double dTimeStep) {
  dTimeSinceSend += dTimeStep;
  if (dTimeSinceSend < dSendPeriod) return false;
  dTimeSinceSend = 0.0;
  return true;
}

void CMATLAB2Network::Close() {
  if (bConnected) MulticastClose<VehicleRecord>();
  bConnected = 0;
  ReceivedQueue.clear();
  iVehicleCount = 0;
  bFirstReading = 1;
}

void CMATLAB2Network::ReceiveStates() {
  if (!Connect()) return;
  // Received positions are given relative to this connection's reference position.
  VehicleRecord Receiver{};
  Receiver.dOriginLongitude = Vehicle.dOriginLongitude;
  Receiver.dOriginLatitude = Vehicle.dOriginLatitude;
  MulticastPoll(&CMATLAB2Network::ReceiveCallback, &Receiver);
}

int CMATLAB2Network::ReceiveCallback(VehicleRecord* pRecord) {
  if (ReceivedQueue.size() >= kReceivedQueueLimit) ReceivedQueue.pop_front();
  ReceivedQueue.push_back(*pRecord);
  return 0;
}
