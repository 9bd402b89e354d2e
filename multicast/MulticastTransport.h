#pragma once
// The multicast transport: one UDP socket per multicast address, joined for sending and
// receiving, with one receive always posted; SendPacket writes a packet to every group and
// Poll collects, without waiting, every datagram that has arrived since the last poll.
// One process-wide transport sits behind the C entry points below.
//
// The record type. A deliverable is built with one vehicle record: skycast and skypush with
// VehicleRecord, the network test programs with a record of their own. The transport sources
// are record-neutral and are compiled once per record type into a static library made by the
// CMake function kyte_add_multicast_library (multicast/CMakeLists.txt):
//
//   kyte_add_multicast_library(<target> RECORD <type> HEADER <header>
//                              SOURCES <that record's operations> [LIBS ...])
//
// It compiles the transport with KYTE_MULTICAST_RECORD=<type> and
// KYTE_MULTICAST_RECORD_HEADER="<header>" (both public, so users of <target> see the same
// record), adds SOURCES, which define CMulticastTransport::InitRecord, SendRecord and Decode
// for that record (for VehicleRecord: multicast/VehicleRecord.cpp), and links the
// record-neutral packet helpers of VehiclePacket.h. Without these definitions this header
// means VehicleRecord. The library kyte_multicast is the VehicleRecord build.

#include <cstdint>

#include "multicast/VehiclePacket.h"
#include "platform/sockets/sockets.h"

#ifdef KYTE_MULTICAST_RECORD_HEADER
#include KYTE_MULTICAST_RECORD_HEADER
#else
#include "multicast/VehicleRecord.h"
#endif
#ifndef KYTE_MULTICAST_RECORD
#define KYTE_MULTICAST_RECORD VehicleRecord
#endif

using MulticastRecord = KYTE_MULTICAST_RECORD;
// The receive callback of this build's record (VehicleCallback for VehicleRecord).
using MulticastCallback = int (*)(MulticastRecord* pRecord);

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

class CMulticastTransport {
 public:
  CMulticastTransport();
  // Releases whatever endpoints a failed Start left behind; an open transport is closed first.
  virtual ~CMulticastTransport();
  CMulticastTransport(const CMulticastTransport&) = delete;
  CMulticastTransport& operator=(const CMulticastTransport&) = delete;

  int Open(std::int32_t iCount, char** ppszAddresses);
  int Close();
  int Start(std::int32_t iCount, char** ppszAddresses);
  int StartWinsock();
  int ParseAddress(char* pszAddress, MulticastEndpoint** ppEndpoint);
  int JoinGroup(MulticastEndpoint* pEndpoint);
  int PostReceive(MulticastEndpoint* pEndpoint);
  int SendPacket(const std::uint8_t* pImage);
  int Poll(MulticastCallback pCallback, MulticastRecord* pRecord);

  // The record operations read and write no member of the transport; they are defined by the
  // record's module (see above).
  static int InitRecord(MulticastRecord* pRecord, const char* szName, std::int32_t iVehicleId,
                        std::int32_t iCraftType, const float* pfLongitude, const float* pfLatitude,
                        const float* pfAltitude);
  int SendRecord(MulticastRecord* pRecord);
  static int Decode(MulticastCallback pCallback, MulticastRecord* pRecord,
                    const std::uint8_t* pImage);
  // 0 to 32767 from the generator reseeded with the calendar time in seconds.
  static std::int32_t MakeRandomId();

 private:
  static void ReleaseEndpoint(MulticastEndpoint* pEndpoint);
  void ReleaseList(MulticastEndpoint*& pList);

  MulticastEndpoint* pEndpoints = nullptr;
  std::int32_t bOpen = 0;
  std::int32_t bPolling = 0;
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

extern "C" {
// Makes a new process-wide transport (releasing an earlier one) and opens it on iCount writable
// address strings "group:port[,interface]"; the strings are cut at their commas.
int MulticastOpen(std::int32_t iCount, char** ppszAddresses);
// Closes and releases the process-wide transport; 0.
int MulticastClose();
// InitRecord; needs no transport; 1.
int MulticastInitRecord(MulticastRecord* pRecord, const char* szName, std::int32_t iVehicleId,
                        std::int32_t iCraftType, const float* pfLongitude, const float* pfLatitude,
                        const float* pfAltitude);
// SendRecord on the process-wide transport: 0, or 15 when the last group's send failed.
int MulticastSendRecord(MulticastRecord* pRecord);
// Poll on the process-wide transport: 1 when every group was drained, 0 when a poll is already
// running or a receive could not be posted again.
int MulticastPoll(MulticastCallback pCallback, MulticastRecord* pRecord);
}
