#pragma once
// One vehicle on the multicast group as MATLAB sees it, and the process-wide objects that all
// vehicles of one loaded library share: the connected flag, the vehicle counter and the queue of
// received vehicle records.

#include <cstddef>
#include <cstdint>
#include <list>

#include "multicast/VehicleRecord.h"
#include "timing/ElapsedTime.h"

class CMATLAB2Network {
 public:
  CMATLAB2Network();
  virtual ~CMATLAB2Network();

  // Held by value in one owner at a time (skycast's map, skypush's user data); the owners
  // construct in place, so no copy is ever made.
  CMATLAB2Network(const CMATLAB2Network&) = delete;
  CMATLAB2Network& operator=(const CMATLAB2Network&) = delete;

  static bool Connect();
  bool InitVehicle(std::int32_t iCraftType, double dLongitude, double dLatitude, double dAltitude,
                   const char* pszName);
  bool Send();
  double GetSendInterval();
  bool IsTimeToSend(double dTimeStep);
  void Close();
  void ReceiveStates();
  // The receive callback: queues a copy of the record just decoded; its result is ignored.
  static int ReceiveCallback(VehicleRecord* pRecord);

  VehicleRecord Vehicle{};
  double dSendPeriod = 0.05;
  double dTimeSinceSend = 0.0;
  CElapsedTime Timer;
  std::int32_t bFirstReading = 1;
  std::int32_t bUseKYTETime = 0;
};

// The multicast transport has been opened by CMATLAB2Network::Connect and not closed since.
extern std::int32_t bConnected;
// Vehicles initialised since load or since the last CMATLAB2Network::Close.
extern std::int32_t iVehicleCount;
// Received records waiting for skycast's receive operation, oldest first. Bounded: when a
// record arrives at a full queue the oldest one is dropped.
extern std::list<VehicleRecord> ReceivedQueue;
inline constexpr std::size_t kReceivedQueueLimit = 4096;
