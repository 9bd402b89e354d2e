#include "DroneFleet.h"

#include <cmath>
#include <cstdint>

#include "multicast/MulticastTransport.h"
#include "multicast/VehiclePacket.h"

namespace dronefleet {

std::array<VehicleRecordD, kDrones> drones;

namespace {

struct Drone {
  const char* name;
  int32_t craftType;
  int32_t identifier;  // goes into both identifier fields of the packet
};

constexpr Drone kFleet[kDrones] = {
    {"707_Drone", 0, 1234}, {"F18_Drone", 1, 7125}, {"F16_Drone", 2, 5423},  {"F15_Drone", 3, 9821},
    {"F22_Drone", 4, 6243}, {"F23_Drone", 5, 5678}, {"F117_Drone", 6, 3498},
};

// A wingman's place in spacings: f ahead of the leader along its heading, r to its right, and
// the altitude coefficient v that tilts the formation with the leader's bank.
struct Slot {
  double f;
  double r;
  double v;
};

constexpr Slot kFormation[kDrones - 1] = {
    {0.5, 1, 1}, {0.5, -1, -1}, {-1, -1, -1}, {-1.5, 0.3, 0.5}, {-1.5, -0.3, -0.5}, {-1, 1, 1},
};

// Sends a drone when a send was requested; its interval restarts with the send.
void SendIfRequested(VehicleRecordD& drone) {
  if (drones::sendFlag != 1) return;
  MulticastSendRecord(&drone);
  drone.fSendInterval = 0.0f;
}

}  // namespace

void SetUp() {
  for (int i = 0; i < kDrones; ++i) {
    float longitude = drones::kStartLongitude;
    float latitude = drones::kStartLatitude;
    float altitude = drones::kStartAltitude;
    // The vehicle id passed here does not matter: the identifiers are written below.
    MulticastInitRecord(&drones[i], kFleet[i].name, kFleet[i].identifier, kFleet[i].craftType,
                        &longitude, &latitude, &altitude);
    drones[i].dPitch = 0.0;
    drones[i].dRoll = 8.0;
    drones[i].dHeading = 0.0;
  }
  drones::settings = {500.0f, 1.5f, 15000.0f, 100.0f};
  for (int i = 0; i < kDrones; ++i) {
    PutImageInt32(drones[i].PacketImage, wire::kInstanceId, kFleet[i].identifier);
    PutImageInt32(drones[i].PacketImage, wire::kVehicleId, kFleet[i].identifier);
    drones[i].byState = 100;
  }
}

void FlyFormation(double dt) {
  const double V = drones::settings.speed;
  const double W = drones::settings.turnRate;
  const double S = drones::settings.spacing;
  const double k = drones::kDegree;
  VehicleRecordD& leader = drones[0];

  leader.dHeading += W * dt;
  const double psi = leader.dHeading * k;
  const double phi = leader.dRoll * k;
  const double sinPsi = std::sin(psi);
  const double cosPsi = std::cos(psi);
  const double sinPhi = std::sin(phi);
  const double cosPhi = std::cos(phi);

  leader.fSendInterval = static_cast<float>(leader.fSendInterval + dt);
  leader.dEast += V * sinPsi * dt;
  leader.dNorth += V * cosPsi * dt;
  leader.dAltitude = drones::settings.altitude;
  SendIfRequested(leader);

  for (int i = 1; i < kDrones; ++i) {
    VehicleRecordD& wingman = drones[i];
    const Slot& slot = kFormation[i - 1];
    wingman.fSendInterval = static_cast<float>(wingman.fSendInterval + dt);
    wingman.dEast = leader.dEast + S * (slot.f * sinPsi + slot.r * cosPsi * cosPhi);
    wingman.dNorth = leader.dNorth + S * (slot.f * cosPsi - slot.r * sinPsi * cosPhi);
    wingman.dAltitude = leader.dAltitude - S * slot.v * sinPhi;
    wingman.dHeading += W * dt;
    SendIfRequested(wingman);
  }
  if (drones::sendFlag == 1) drones::sendFlag = 0;
}

const drones::Program program = {"dronefleet", SetUp, FlyFormation, 80, "Total Time = %f \n"};

}  // namespace dronefleet
