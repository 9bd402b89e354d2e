#pragma once
// The Winsock 2 calls the multicast transport was written against, on BSD sockets.
//
// An overlapped receive is emulated: WSARecvFrom with an overlapped record only posts the
// buffer (it reports WSA_IO_PENDING), and WSAGetOverlappedResult completes it with one
// non-blocking recvfrom into the posted buffer, so that a caller that never waits drains its
// datagrams in order of arrival. A datagram longer than the buffer completes the receive with
// the bytes that fit, so that one stray datagram does not end the receiving of a socket.
// closesocket cancels every receive posted on the socket: once it has returned, the layer no
// longer touches the posted buffer or overlapped record.
// A socket receives only the groups it joined. A socket made for multipoint use and bound to a
// local interface address receives the groups it joins on that interface and sends through it,
// as under Winsock. Error codes keep their Winsock numbers.
// Tests inject faults through sockets_test_hook.h.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

#include "platform/win32_types.h"

typedef std::uintptr_t SOCKET;
constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
constexpr int SOCKET_ERROR = -1;

typedef HANDLE WSAEVENT;
constexpr WSAEVENT WSA_INVALID_EVENT = nullptr;
typedef unsigned int GROUP;

constexpr WORD MAKEWORD(unsigned low, unsigned high) {
  return static_cast<WORD>((low & 0xFFu) | ((high & 0xFFu) << 8));
}
constexpr unsigned LOBYTE(WORD w) { return w & 0xFFu; }
constexpr unsigned HIBYTE(WORD w) { return (w >> 8) & 0xFFu; }

// What WSAStartup reports: the version the caller will use and the highest one there is.
struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
};
typedef WSADATA* LPWSADATA;

struct WSABUF {
  ULONG len;
  char* buf;
};
typedef WSABUF* LPWSABUF;

// Opaque: the system passes none.
struct WSAPROTOCOL_INFOA;
struct QOS;

// An overlapped record. The caller sets hEvent; the rest belongs to the layer while a receive
// is posted with it.
struct WSAOVERLAPPED {
  WSAEVENT hEvent;
  SOCKET hPostedSocket;
  int iState;  // 0 nothing posted, 1 posted, 2 completed, 3 failed with iError
  int iError;
  DWORD dwBytes;
  DWORD dwFlags;
  char* pBuffer;
  ULONG ulLength;
  sockaddr* pFrom;
  int* pFromLength;
  WSAOVERLAPPED* pNextPosted;
};
typedef WSAOVERLAPPED* LPWSAOVERLAPPED;
typedef void (*LPWSAOVERLAPPED_COMPLETION_ROUTINE)(DWORD dwError, DWORD cbTransferred,
                                                   LPWSAOVERLAPPED lpOverlapped, DWORD dwFlags);

constexpr DWORD WSA_FLAG_OVERLAPPED = 0x01;
constexpr DWORD WSA_FLAG_MULTIPOINT_C_LEAF = 0x04;
constexpr DWORD WSA_FLAG_MULTIPOINT_D_LEAF = 0x10;
constexpr DWORD JL_SENDER_ONLY = 0x01;
constexpr DWORD JL_RECEIVER_ONLY = 0x02;
constexpr DWORD JL_BOTH = 0x04;

constexpr int WSA_OPERATION_ABORTED = 995;
constexpr int WSA_IO_INCOMPLETE = 996;
constexpr int WSA_IO_PENDING = 997;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int iError);

int WSAStringToAddressA(char* AddressString, int AddressFamily, WSAPROTOCOL_INFOA* lpProtocolInfo,
                        sockaddr* lpAddress, int* lpAddressLength);

SOCKET WSASocketA(int af, int type, int protocol, WSAPROTOCOL_INFOA* lpProtocolInfo, GROUP g,
                  DWORD dwFlags);
int closesocket(SOCKET s);

// Overloads of the BSD names for a SOCKET; the BSD functions stay usable on plain descriptors.
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int bind(SOCKET s, const sockaddr* name, int namelen);
int getsockname(SOCKET s, sockaddr* name, int* namelen);
int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen);

SOCKET WSAJoinLeaf(SOCKET s, const sockaddr* name, int namelen, LPWSABUF lpCallerData,
                   LPWSABUF lpCalleeData, QOS* lpSQOS, QOS* lpGQOS, DWORD dwFlags);

int WSARecvFrom(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount, DWORD* lpNumberOfBytesRecvd,
                DWORD* lpFlags, sockaddr* lpFrom, int* lpFromlen, LPWSAOVERLAPPED lpOverlapped,
                LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);
BOOL WSAGetOverlappedResult(SOCKET s, LPWSAOVERLAPPED lpOverlapped, DWORD* lpcbTransfer, BOOL fWait,
                            DWORD* lpdwFlags);

WSAEVENT WSACreateEvent();
BOOL WSAResetEvent(WSAEVENT hEvent);
BOOL WSACloseEvent(WSAEVENT hEvent);
