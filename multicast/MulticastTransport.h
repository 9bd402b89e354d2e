#pragma once
// The multicast transport: one UDP socket per multicast address, joined for sending and
// receiving, with one receive always posted; SendPacket writes a packet to every group and
// Poll collects, without waiting, every datagram that has arrived since the last poll.
//
// The record type is the template parameter of CMulticastTransport, so that each record's
// transport is a type of its own: VehicleRecord's (multicast/VehicleRecord.h) for skycast and
// skypush, VehicleRecordD's (nettools/VehicleRecordD.h) for the network test programs. The
// sockets, sending and receiving are record-neutral and compiled once (CMulticastSockets); a
// record's module defines CMulticastTransport<Record>::InitRecord, SendRecord and Decode and
// declares them in the record's header, which is the header its users include.
//
// Each record type has one process-wide transport behind the entry points below; a program
// that links both records has two, each with its own sockets.

#include <cstdint>

#include "multicast/VehiclePacket.h"
#include "platform/sockets/sockets.h"

// One multicast address: made by ParseAddress, released by the transport.
struct MulticastEndpoint {
  MulticastEndpoint* pNext;
  SOCKET hSocket;
  std::uint32_t ulGroupAddress;      // network byte order
  std::uint16_t usPort;              // network byte order: bound to and sent to
  std::uint32_t ulInterfaceAddress;  // network byte order; 0 binds every interface
  sockaddr_in saSender;              // filled by each receive; nothing reads it
  std::int32_t iSenderLength;
  WSAOVERLAPPED ovReceive;  // the posted receive; hEvent is the endpoint's event
  std::uint8_t abReceiveBuffer[kPacketSize];
};

// The record-neutral part of every CMulticastTransport: the endpoints and their sockets.
class CMulticastSockets {
 public:
  CMulticastSockets();
  // Releases whatever endpoints a failed Start left behind; an open transport is closed first.
  virtual ~CMulticastSockets();
  CMulticastSockets(const CMulticastSockets&) = delete;
  CMulticastSockets& operator=(const CMulticastSockets&) = delete;

  int Open(std::int32_t iCount, char** ppszAddresses);
  int Close();
  int Start(std::int32_t iCount, char** ppszAddresses);
  int StartWinsock();
  int ParseAddress(char* pszAddress, MulticastEndpoint** ppEndpoint);
  int JoinGroup(MulticastEndpoint* pEndpoint);
  int PostReceive(MulticastEndpoint* pEndpoint);
  int SendPacket(const std::uint8_t* pImage);
  // 0 to 32767 from the generator reseeded with the calendar time in seconds.
  static std::int32_t MakeRandomId();

 protected:
  // Poll without the record: every completed receive, restored to an image, goes to
  // pfnImage(pContext, image) in order of arrival. 1 when every group was drained, 0 when a
  // poll is already running or a receive could not be posted again.
  using ImageHandler = void (*)(void* pContext, const std::uint8_t* pImage);
  int PollImages(ImageHandler pfnImage, void* pContext);

 private:
  static void ReleaseEndpoint(MulticastEndpoint* pEndpoint);
  void ReleaseList(MulticastEndpoint*& pList);

  MulticastEndpoint* pEndpoints = nullptr;
  std::int32_t bOpen = 0;
  std::int32_t bPolling = 0;
};

// The transport of one record type.
template <class Record>
class CMulticastTransport : public CMulticastSockets {
 public:
  // The receive callback (VehicleCallback for VehicleRecord).
  using Callback = int (*)(Record* pRecord);

  int Poll(Callback pCallback, Record* pRecord) {
    struct Target {
      Callback pCallback;
      Record* pRecord;
    } target{pCallback, pRecord};
    return PollImages(
        [](void* pContext, const std::uint8_t* pImage) {
          const Target& t = *static_cast<const Target*>(pContext);
          Decode(t.pCallback, t.pRecord, pImage);
        },
        &target);
  }

  // The record operations read and write no member of the transport; the record's module
  // defines them.
  static int InitRecord(Record* pRecord, const char* szName, std::int32_t iVehicleId,
                        std::int32_t iCraftType, const float* pfLongitude, const float* pfLatitude,
                        const float* pfAltitude);
  int SendRecord(Record* pRecord);
  static int Decode(Callback pCallback, Record* pRecord, const std::uint8_t* pImage);
};

// Result codes of MulticastOpen; MulticastSendRecord gives 0 or kMulticastSendFailed.
enum : int {
  kMulticastOk = 0,
  kMulticastNoEndpoint = 3,
  kMulticastNoWinsock = 4,
  kMulticastReuseFailed = 7,
  kMulticastBindFailed = 8,
  kMulticastNameFailed = 9,
  kMulticastJoinFailed = 11,
  kMulticastSocketFailed = 13,
  kMulticastSendFailed = 15,
  kMulticastReceiveFailed = -1,
};

// The process-wide transport of each record type, made by MulticastOpen. Hidden, as all a
// deliverable holds, so each loaded library has its own.
template <class Record>
inline CMulticastTransport<Record>* g_pMulticastTransport = nullptr;

// The entry points. MulticastOpen and MulticastClose name the record whose transport they act
// on (MulticastOpen<VehicleRecord>(...)); the others take it from their arguments.

// Makes a new process-wide transport (releasing an earlier one) and opens it on iCount writable
// address strings "group:port[,interface]"; the strings are cut at their commas.
template <class Record>
int MulticastOpen(std::int32_t iCount, char** ppszAddresses) {
  // Callers open again only after a failed open: the earlier transport is released here
  // rather than left with its sockets.
  delete g_pMulticastTransport<Record>;
  g_pMulticastTransport<Record> = new CMulticastTransport<Record>;
  return g_pMulticastTransport<Record>->Open(iCount, ppszAddresses);
}

// Closes and releases the process-wide transport; 0.
template <class Record>
int MulticastClose() {
  CMulticastTransport<Record>*& pTransport = g_pMulticastTransport<Record>;
  if (!pTransport) return kMulticastOk;
  const int iResult = pTransport->Close();
  delete pTransport;
  pTransport = nullptr;
  return iResult;
}

// InitRecord; needs no transport; 1.
template <class Record>
int MulticastInitRecord(Record* pRecord, const char* szName, std::int32_t iVehicleId,
                        std::int32_t iCraftType, const float* pfLongitude, const float* pfLatitude,
                        const float* pfAltitude) {
  return CMulticastTransport<Record>::InitRecord(pRecord, szName, iVehicleId, iCraftType,
                                                 pfLongitude, pfLatitude, pfAltitude);
}

// SendRecord on the process-wide transport: 0, or 15 when the last group's send failed.
template <class Record>
int MulticastSendRecord(Record* pRecord) {
  if (!g_pMulticastTransport<Record>) return kMulticastSendFailed;
  return g_pMulticastTransport<Record>->SendRecord(pRecord);
}

// Poll on the process-wide transport: 1 when every group was drained, 0 when a poll is already
// running or a receive could not be posted again.
template <class Record>
int MulticastPoll(int (*pCallback)(Record*), Record* pRecord) {
  if (!g_pMulticastTransport<Record>) return 0;
  return g_pMulticastTransport<Record>->Poll(pCallback, pRecord);
}
