// skycast: MATLAB's link to the vehicles on the multicast group. The first argument selects the
// operation: 1 opens a sending connection, 2 sends a state on it, 3 polls the group and hands back
// the oldest received vehicle, 4 closes everything, 5 opens the transport.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "MATLAB2Network.h"
#include "mex.h"
#include "support/Truncate.h"

// Connections by id, in ascending order of id; the first one polls and closes for all.
std::map<std::int32_t, CMATLAB2Network> ConnectionMap;

namespace {

constexpr mwSize kRecordColumnLength = 55;
constexpr int kInitialVectorMax = 4;
constexpr int kStateVectorMax = 16;

// mexErrMsgTxt leaves the call; the formatted text outlives it in static storage.
[[noreturn]] void Fail(const char* pszMessage) {
  mexErrMsgTxt(pszMessage);
  std::abort();  // a host whose error call returned must not run on past a failed check
}

char szMessage[512];

bool IsRealDoubleScalar(const mxArray* pArray) {
  return mxIsNumeric(pArray) && mxIsDouble(pArray) && !mxIsEmpty(pArray) && !mxIsComplex(pArray) &&
         mxGetM(pArray) * mxGetN(pArray) == 1;
}

// The checks of the third input of operations 1 and 2; returns its length. Only a full real
// double array holds its elements one after another behind mxGetPr.
int CheckVector(const mxArray* pArray, int iMaxLength) {
  if (!mxIsDouble(pArray) || mxIsComplex(pArray) || mxIsSparse(pArray)) {
    Fail("skycast:: Input vector must be full, real and of class double.\n");
  }
  const mwSize m = mxGetM(pArray);
  const mwSize n = mxGetN(pArray);
  if (m != 1 && n != 1) Fail("skycast:: Input must be a vector\n");
  const mwSize length = m * n;
  if (length < 1 || length > static_cast<mwSize>(iMaxLength)) {
    std::snprintf(szMessage, sizeof szMessage,
                  "skycast:: Wrong length of input vector.\nLength of input vector must be in the "
                  "range [1,%d].\nThis input vector's length is %d\n",
                  iMaxLength, static_cast<int>(length));
    Fail(szMessage);
  }
  return static_cast<int>(length);
}

void OpenConnection(std::int32_t iId, const mxArray* pInitial) {
  const int iLength = CheckVector(pInitial, kInitialVectorMax);
  const double* pdInitial = mxGetPr(pInitial);
  const std::int32_t iCraftType = TruncateToInt32(pdInitial[0]);
  const double dLongitude = iLength > 1 ? pdInitial[1] : -122.0634;
  const double dLatitude = iLength > 2 ? pdInitial[2] : 37.981523;
  const double dAltitude = iLength > 3 ? pdInitial[3] : 5000.0;

  ConnectionMap.erase(iId);
  CMATLAB2Network& connection = ConnectionMap.try_emplace(iId).first->second;
  if (!connection.InitVehicle(iCraftType, dLongitude, dLatitude, dAltitude, nullptr)) {
    Fail("skycast:: Error encountered while opening the connection.\n");
  }
}

void SendState(std::int32_t iId, const mxArray* pState) {
  const auto found = ConnectionMap.find(iId);
  if (found == ConnectionMap.end()) {
    std::snprintf(szMessage, sizeof szMessage, "skycast:: Unable to   find connection #%d", iId);
    Fail(szMessage);
  }
  const int iLength = CheckVector(pState, kStateVectorMax);
  const double* pdState = mxGetPr(pState);
  const auto element = [&](int i) { return i <= iLength ? pdState[i - 1] : 0.0; };
  const auto single = [&](int i) { return static_cast<float>(element(i)); };

  CMATLAB2Network& connection = found->second;
  VehicleRecord& vehicle = connection.Vehicle;
  vehicle.dNorth = element(1);
  vehicle.dEast = element(2);
  vehicle.fAltitude = single(3);
  vehicle.fRoll = single(4);
  vehicle.fPitch = single(5);
  vehicle.fHeading = single(6);
  for (int i = 0; i < 4; ++i) vehicle.afExtra[i] = single(7 + i);
  vehicle.byState = static_cast<std::uint8_t>(TruncateToInt32(vehicle.afExtra[3]) & 0xFF);
  // The vector orders each triple roll, pitch, heading; the record pitch, roll, heading.
  vehicle.afAux1[1] = single(11);
  vehicle.afAux1[0] = single(12);
  vehicle.afAux1[2] = single(13);
  vehicle.afAux2[1] = single(14);
  vehicle.afAux2[0] = single(15);
  vehicle.afAux2[2] = single(16);
  vehicle.fSendInterval = static_cast<float>(connection.GetSendInterval());
  if (!connection.Send()) Fail("skycast:: Error encountered while sending data.\n");
}

mxArray* RecordColumn(const VehicleRecord& record) {
  mxArray* pColumn = mxCreateDoubleMatrix(kRecordColumnLength, 1, mxREAL);
  double* pd = mxGetPr(pColumn);
  *pd++ = record.iSpare;
  for (float f : record.afExtra) *pd++ = f;
  for (float f : record.afSpare) *pd++ = f;
  *pd++ = record.dOriginLongitude;
  *pd++ = record.dOriginLatitude;
  *pd++ = record.dEast;
  *pd++ = record.dNorth;
  *pd++ = record.fAltitude;
  for (float f : record.afAux1) *pd++ = f;
  *pd++ = record.fPitch;
  *pd++ = record.fRoll;
  *pd++ = record.fHeading;
  for (float f : record.afAux2) *pd++ = f;
  *pd++ = record.byState;
  *pd++ = record.iRandomId;
  *pd++ = record.fSendInterval;
  // Elements 29 to 55 stay 0.
  return pColumn;
}

void Receive(mxArray* plhs[]) {
  if (ConnectionMap.empty()) ConnectionMap.try_emplace(-1);
  ConnectionMap.begin()->second.ReceiveStates();
  if (ReceivedQueue.empty()) {
    plhs[0] = mxCreateDoubleMatrix(0, 1, mxREAL);
    return;
  }
  plhs[0] = RecordColumn(ReceivedQueue.front());
  ReceivedQueue.pop_front();
}

void CloseAll() {
  if (ConnectionMap.empty()) {
    Fail("skycast:: Error encountered while closing connection:\nno connection exists.\n");
  }
  ConnectionMap.begin()->second.Close();
  ConnectionMap.clear();
}

void OpenTransport() {
  ConnectionMap.erase(0);
  CMATLAB2Network& connection = ConnectionMap.try_emplace(0).first->second;
  if (!connection.Connect()) {
    Fail("skycast:: Error encountered while opening the connection.\n");
  }
}

bool InputCountSuits(std::int32_t iMode, int nrhs) {
  switch (iMode) {
    case 1:
      return nrhs == 3 || nrhs == 6;
    case 2:
      return nrhs == 3;
    case 3:
    case 4:
    case 5:
      return nrhs == 1;
    default:
      return false;
  }
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs != 1 && nrhs != 2 && nrhs != 3 && nrhs != 6) {
    std::snprintf(szMessage, sizeof szMessage,
                  "skycast:: Wrong number of inputs encoutered while executing the skycast MEX "
                  "function: %d inputs \n Must be 1, 2 or 5, please see the file 'ReadMe.txt' for "
                  "more information.\n",
                  nrhs);
    Fail(szMessage);
  }
  if (!IsRealDoubleScalar(prhs[0])) {
    Fail("skycast:: Operating mode (first input) must be a scalar.\n");
  }
  const std::int32_t iMode = TruncateToInt32(mxGetScalar(prhs[0]));
  if (!InputCountSuits(iMode, nrhs)) {
    std::snprintf(szMessage, sizeof szMessage,
                  "skycast:: Wrong number of inputs encoutered for the skycast MEX function mode "
                  "selected: Mode Selected = %d Number of Inputs = %d \n Please see the file "
                  "'ReadMe.txt' for more information.\n",
                  iMode, nrhs);
    Fail(szMessage);
  }
  if (nlhs > 1 || (nlhs == 1 && iMode != 3)) {
    std::snprintf(szMessage, sizeof szMessage,
                  "skycast:: Wrong number of outputs encoutered while executing the skycast MEX "
                  "function: %d inputs \n Must be %s, please see the file 'ReadMe.txt' for more "
                  "information.\n",
                  nrhs, nlhs > 1 ? "0 or 1" : "0");
    Fail(szMessage);
  }
  std::int32_t iId = 0;
  if (iMode == 1 || iMode == 2) {
    if (!IsRealDoubleScalar(prhs[1])) Fail("skycast:: Error reading connection ID number.\n");
    iId = TruncateToInt32(mxGetScalar(prhs[1]));
  }
  switch (iMode) {
    case 1:
      OpenConnection(iId, prhs[2]);
      break;
    case 2:
      SendState(iId, prhs[2]);
      break;
    case 3:
      Receive(plhs);
      break;
    case 4:
      CloseAll();
      break;
    case 5:
      OpenTransport();
      break;
  }
}
