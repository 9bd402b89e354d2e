#include "multicast/MulticastTransport.h"

#include <cstring>
#include <ctime>
#include <new>

#include "multicast/MulticastTransport_test_hook.h"
#include "support/CLibraryRandom.h"

namespace {

constexpr int kAddressLength = sizeof(sockaddr_in);

// The time a test holds in force, or null for the real calendar time.
const std::time_t* g_pCalendarTime = nullptr;

std::time_t CalendarTime() { return g_pCalendarTime ? *g_pCalendarTime : std::time(nullptr); }

}  // namespace

CMulticastSockets::CMulticastSockets() = default;

CMulticastSockets::~CMulticastSockets() {
  Close();
  ReleaseList(pEndpoints);
}

// Releases one endpoint: its socket (which cancels its posted receive, so that nothing writes
// into its buffer afterwards), its event and its memory.
void CMulticastSockets::ReleaseEndpoint(MulticastEndpoint* pEndpoint) {
  if (pEndpoint->hSocket != INVALID_SOCKET) {
    closesocket(pEndpoint->hSocket);
    pEndpoint->hSocket = INVALID_SOCKET;
  }
  if (pEndpoint->ovReceive.hEvent != WSA_INVALID_EVENT) WSACloseEvent(pEndpoint->ovReceive.hEvent);
  delete pEndpoint;
}

void CMulticastSockets::ReleaseList(MulticastEndpoint*& pList) {
  while (pList) {
    MulticastEndpoint* pNext = pList->pNext;
    ReleaseEndpoint(pList);
    pList = pNext;
  }
}

int CMulticastSockets::Open(std::int32_t iCount, char** ppszAddresses) {
  if (bOpen) return kMulticastOk;
  const int iResult = Start(iCount, ppszAddresses);
  if (iResult == kMulticastOk) bOpen = 1;
  return iResult;
}

int CMulticastSockets::Close() {
  if (!bOpen) return kMulticastOk;
  for (MulticastEndpoint* p = pEndpoints; p; p = p->pNext) {
    closesocket(p->hSocket);
    p->hSocket = INVALID_SOCKET;
  }
  while (pEndpoints) {
    MulticastEndpoint* pNext = pEndpoints->pNext;
    // Its socket is closed, so its cancelled receive is done with ovReceive and the buffer.
    DWORD dwBytes = 0;
    DWORD dwFlags = 0;
    WSAGetOverlappedResult(INVALID_SOCKET, &pEndpoints->ovReceive, &dwBytes, TRUE, &dwFlags);
    ReleaseEndpoint(pEndpoints);
    pEndpoints = pNext;
  }
  bOpen = 0;
  return kMulticastOk;
}

int CMulticastSockets::StartWinsock() {
  WSADATA wsaData{};
  const int iError = WSAStartup(MAKEWORD(2, 0), &wsaData);
  if (iError != 0) return iError;
  if (LOBYTE(wsaData.wVersion) == 2 && HIBYTE(wsaData.wVersion) == 0) return 0;
  WSACleanup();
  return WSAVERNOTSUPPORTED;
}

int CMulticastSockets::Start(std::int32_t iCount, char** ppszAddresses) {
  if (StartWinsock() != 0) return kMulticastNoWinsock;
  // Endpoints an earlier failed Start left behind are released, not forgotten.
  ReleaseList(pEndpoints);
  if (iCount == 0) return kMulticastNoEndpoint;

  bool bLastFailed = false;
  for (std::int32_t i = 0; i < iCount; ++i) {
    MulticastEndpoint* pEndpoint = nullptr;
    bLastFailed = ParseAddress(ppszAddresses[i], &pEndpoint) != 0;
    if (!bLastFailed) {
      pEndpoint->pNext = pEndpoints;
      pEndpoints = pEndpoint;
    }
  }
  if (bLastFailed) return kMulticastNoEndpoint;

  // The list is in reverse order of the strings; arming moves each endpoint to the front of
  // a new list, which ends up in the order of the strings.
  MulticastEndpoint* pArmed = nullptr;
  while (pEndpoints) {
    MulticastEndpoint* pEndpoint = pEndpoints;
    int iResult = JoinGroup(pEndpoint);
    if (iResult == 0) iResult = PostReceive(pEndpoint);
    if (iResult != 0) {
      // The failing endpoint and those not armed yet leave the list; the armed ones stay.
      ReleaseList(pEndpoints);
      pEndpoints = pArmed;
      return iResult;
    }
    pEndpoints = pEndpoint->pNext;
    pEndpoint->pNext = pArmed;
    pArmed = pEndpoint;
  }
  pEndpoints = pArmed;
  return kMulticastOk;
}

int CMulticastSockets::ParseAddress(char* pszAddress, MulticastEndpoint** ppEndpoint) {
  auto* pEndpoint = new (std::nothrow) MulticastEndpoint{};
  if (!pEndpoint) return 8;
  pEndpoint->hSocket = INVALID_SOCKET;
  pEndpoint->ovReceive.hEvent = WSACreateEvent();

  // Pieces between commas, in place; leading commas are skipped.
  char* apszPieces[2] = {nullptr, nullptr};
  int iPieces = 0;
  char* p = pszAddress;
  while (p && iPieces < 2) {
    while (*p == ',') ++p;
    if (*p == '\0') break;
    apszPieces[iPieces++] = p;
    p = std::strchr(p, ',');
    if (p) *p++ = '\0';
  }

  sockaddr_in saAddress{};
  int iLength = kAddressLength;
  if (!apszPieces[0] ||
      WSAStringToAddressA(apszPieces[0], AF_INET, nullptr, reinterpret_cast<sockaddr*>(&saAddress),
                          &iLength) != 0) {
    ReleaseEndpoint(pEndpoint);
    return 6;
  }
  pEndpoint->ulGroupAddress = saAddress.sin_addr.s_addr;
  pEndpoint->usPort = saAddress.sin_port;
  if (apszPieces[1]) {
    saAddress = sockaddr_in{};
    iLength = kAddressLength;
    if (WSAStringToAddressA(apszPieces[1], AF_INET, nullptr,
                            reinterpret_cast<sockaddr*>(&saAddress), &iLength) != 0) {
      ReleaseEndpoint(pEndpoint);
      return 5;
    }
    pEndpoint->ulInterfaceAddress = saAddress.sin_addr.s_addr;
  }
  *ppEndpoint = pEndpoint;
  return 0;
}

int CMulticastSockets::JoinGroup(MulticastEndpoint* pEndpoint) {
  pEndpoint->hSocket =
      WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                 WSA_FLAG_OVERLAPPED | WSA_FLAG_MULTIPOINT_C_LEAF | WSA_FLAG_MULTIPOINT_D_LEAF);
  if (pEndpoint->hSocket == INVALID_SOCKET) return kMulticastSocketFailed;
  auto fail = [pEndpoint](int iCode) {
    closesocket(pEndpoint->hSocket);
    pEndpoint->hSocket = INVALID_SOCKET;
    return iCode;
  };

  const std::int32_t iReuse = 1;
  if (setsockopt(pEndpoint->hSocket, SOL_SOCKET, SO_REUSEADDR,
                 reinterpret_cast<const char*>(&iReuse), 4) == SOCKET_ERROR) {
    return fail(kMulticastReuseFailed);
  }
  sockaddr_in saLocal{};
  saLocal.sin_family = AF_INET;
  saLocal.sin_port = pEndpoint->usPort;
  saLocal.sin_addr.s_addr = pEndpoint->ulInterfaceAddress;
  if (bind(pEndpoint->hSocket, reinterpret_cast<const sockaddr*>(&saLocal), kAddressLength) ==
      SOCKET_ERROR) {
    return fail(kMulticastBindFailed);
  }
  int iLength = kAddressLength;
  if (getsockname(pEndpoint->hSocket, reinterpret_cast<sockaddr*>(&saLocal), &iLength) ==
      SOCKET_ERROR) {
    return fail(kMulticastNameFailed);
  }
  saLocal.sin_addr.s_addr = pEndpoint->ulGroupAddress;
  if (WSAJoinLeaf(pEndpoint->hSocket, reinterpret_cast<const sockaddr*>(&saLocal), kAddressLength,
                  nullptr, nullptr, nullptr, nullptr, JL_BOTH) == INVALID_SOCKET) {
    return fail(kMulticastJoinFailed);
  }
  return 0;
}

int CMulticastSockets::PostReceive(MulticastEndpoint* pEndpoint) {
  pEndpoint->iSenderLength = kAddressLength;
  DWORD dwFlags = 0;
  DWORD dwBytes = 0;
  // A datagram shorter than a packet leaves the rest of the buffer zero, never the bytes of an
  // earlier datagram.
  std::memset(pEndpoint->abReceiveBuffer, 0, kPacketSize);
  WSABUF wsaBuffer{kPacketSize, reinterpret_cast<char*>(pEndpoint->abReceiveBuffer)};
  const int iResult = WSARecvFrom(pEndpoint->hSocket, &wsaBuffer, 1, &dwBytes, &dwFlags,
                                  reinterpret_cast<sockaddr*>(&pEndpoint->saSender),
                                  &pEndpoint->iSenderLength, &pEndpoint->ovReceive, nullptr);
  if (iResult == 0 || WSAGetLastError() == WSA_IO_PENDING) return 0;
  return iResult;
}

int CMulticastSockets::SendPacket(const std::uint8_t* pImage) {
  std::uint8_t abPacket[kPacketSize];
  ImageToWire(pImage, abPacket);
  int iResult = kMulticastOk;
  for (MulticastEndpoint* p = pEndpoints; p; p = p->pNext) {
    sockaddr_in saGroup{};
    saGroup.sin_family = AF_INET;
    saGroup.sin_port = p->usPort;
    saGroup.sin_addr.s_addr = p->ulGroupAddress;
    iResult = sendto(p->hSocket, reinterpret_cast<const char*>(abPacket), kPacketSize, 0,
                     reinterpret_cast<const sockaddr*>(&saGroup), kAddressLength) == SOCKET_ERROR
                  ? kMulticastSendFailed
                  : kMulticastOk;
  }
  return iResult;
}

int CMulticastSockets::PollImages(ImageHandler pfnImage, void* pContext) {
  if (bPolling) return 0;
  bPolling = 1;
  std::uint8_t abImage[kPacketSize];
  for (MulticastEndpoint* p = pEndpoints; p; p = p->pNext) {
    for (;;) {
      DWORD dwBytes = 0;
      DWORD dwFlags = 0;
      if (!WSAGetOverlappedResult(p->hSocket, &p->ovReceive, &dwBytes, FALSE, &dwFlags)) break;
      WireToImage(p->abReceiveBuffer, abImage);
      pfnImage(pContext, abImage);
      WSAResetEvent(p->ovReceive.hEvent);
      if (PostReceive(p) != 0) {
        bPolling = 0;
        return 0;
      }
    }
  }
  bPolling = 0;
  return 1;
}

std::int32_t CMulticastSockets::MakeRandomId() {
  // The C library's generator, seeded with the calendar time (its low 32 bits).
  return CLibraryRandom(static_cast<std::uint32_t>(CalendarTime())).Next();
}

namespace multicast_test {

ScopedCalendarTime::ScopedCalendarTime(std::time_t seconds) : seconds_(seconds) {
  g_pCalendarTime = &seconds_;
}

ScopedCalendarTime::~ScopedCalendarTime() {
  if (g_pCalendarTime == &seconds_) g_pCalendarTime = nullptr;
}

}  // namespace multicast_test
