#include "DroneSolo.h"

#include <cmath>

#include "multicast/MulticastTransport.h"
#include "multicast/VehiclePacket.h"

namespace dronesolo {

VehicleRecordD drone;

void SetUp() {
  float longitude = drones::kStartLongitude;
  float latitude = drones::kStartLatitude;
  float altitude = drones::kStartAltitude;
  MulticastInitRecord(&drone, "707_Drone", 1234, 0, &longitude, &latitude, &altitude);
  drone.dPitch = 0.0;
  drone.dRoll = 8.0;
  drone.dHeading = 0.0;
  drones::settings = {500.0f, 1.5f, 15000.0f, 0.0f};
  PutImageInt32(drone.PacketImage, wire::kVehicleId, 1234);
}

void FlyCircle(double dt) {
  const double V = drones::settings.speed;
  const double W = drones::settings.turnRate;
  const double k = drones::kDegree;

  drone.byState = 100;
  drone.dHeading += W * dt;
  drone.dAltitude = drones::settings.altitude;
  const double A = drone.dPitch * k;
  const double psi = drone.dHeading * k;
  drone.dEast += dt * std::cos(A) * V * std::sin(psi);
  drone.dNorth += dt * std::cos(A) * V * std::cos(psi);
  drone.dAltitude += V * std::sin(A) * dt;
  drone.fSendInterval = static_cast<float>(drone.fSendInterval + dt);
  if (drones::sendFlag == 1) {
    MulticastSendRecord(&drone);
    drones::sendFlag = 0;
    drone.fSendInterval = 0.0f;
  }
}

const drones::Program program = {"dronesolo", SetUp, FlyCircle, 100, "Total Time = %5.2f \n"};

}  // namespace dronesolo
