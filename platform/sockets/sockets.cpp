#include "sockets.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <bitset>
#include <cstdlib>
#include <cstring>

#include "sockets_test_hook.h"
#include "support/FaultCountdown.h"

namespace {

enum : int { kIdle = 0, kPosted = 1, kCompleted = 2, kFailed = 3 };

constexpr std::size_t kCalls = static_cast<std::size_t>(sockets_test::Call::kWSACreateEvent) + 1;

// Plain statics, so that a transport in static storage may still close its sockets while the
// process ends.
thread_local int t_lastError = 0;
int g_started = 0;
int g_openSockets = 0;
int g_openEvents = 0;
std::bitset<65536> g_ours;        // descriptors made by WSASocketA
std::bitset<65536> g_multipoint;  // ... of which those made for multipoint (multicast) use
std::array<in_addr_t, 65536> g_interface{};  // a multipoint socket's bound interface, or 0
WSAOVERLAPPED* g_posted = nullptr;           // receives posted and not completed
constinit FaultTable<sockets_test::Call, kCalls, int> g_faults;
bool g_faultsActive = false;
WORD g_reportedVersion = 0;  // 0: the version asked for

struct Event {
  bool bSignaled = false;
};

int Fail(int error) {
  t_lastError = error;
  return SOCKET_ERROR;
}

// True when this call of `call` is to fail; its error is then the last error.
bool Injected(sockets_test::Call call) {
  return g_faultsActive && g_faults.Falls(call, t_lastError);
}

int FromErrno(int error) {
  switch (error) {
    case EBADF:
    case ENOTSOCK:
      return WSAENOTSOCK;
    case EACCES:
    case EPERM:
      return WSAEACCES;
    case EFAULT:
      return WSAEFAULT;
    case EINVAL:
      return WSAEINVAL;
    case EMFILE:
    case ENFILE:
      return WSAEMFILE;
    case EAGAIN:
      return WSAEWOULDBLOCK;
    case EMSGSIZE:
      return WSAEMSGSIZE;
    case EPROTONOSUPPORT:
      return WSAEPROTONOSUPPORT;
    case EAFNOSUPPORT:
      return WSAEAFNOSUPPORT;
    case EADDRINUSE:
      return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
      return WSAEADDRNOTAVAIL;
    case ENETDOWN:
      return WSAENETDOWN;
    case ENETUNREACH:
      return WSAENETUNREACH;
    case ENOBUFS:
    case ENOMEM:
      return WSAENOBUFS;
    case EHOSTUNREACH:
      return WSAEHOSTUNREACH;
    default:
      return 10000 + error;
  }
}

int FailErrno() { return Fail(FromErrno(errno)); }

bool Ours(SOCKET s) { return s < g_ours.size() && g_ours.test(s); }

int Fd(SOCKET s) { return static_cast<int>(s); }

// The socket's local address as the caller bound it: a multipoint socket bound to an interface
// shows that interface, although the descriptor itself is bound to every address.
bool BoundAddress(SOCKET s, sockaddr* name, socklen_t& length) {
  const socklen_t room = length;
  if (::getsockname(Fd(s), name, &length) != 0) return false;
  if (g_interface[s] != 0 && name->sa_family == AF_INET && room >= sizeof(sockaddr_in)) {
    reinterpret_cast<sockaddr_in*>(name)->sin_addr.s_addr = g_interface[s];
  }
  return true;
}

// 0 when `address` belongs to this machine, so that a socket may be bound to it; else errno.
int LocalAddressError(in_addr_t address) {
  const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return errno;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = address;
  const int error =
      ::bind(probe, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 ? 0 : errno;
  ::close(probe);
  return error;
}

void Unlink(WSAOVERLAPPED* pOverlapped) {
  for (WSAOVERLAPPED** pp = &g_posted; *pp; pp = &(*pp)->pNextPosted) {
    if (*pp == pOverlapped) {
      *pp = pOverlapped->pNextPosted;
      pOverlapped->pNextPosted = nullptr;
      return;
    }
  }
}

// Strict dotted IPv4 address, optionally followed by ":port" in decimal.
bool ParseInet(const char* text, sockaddr_in& address) {
  const char* colon = std::strchr(text, ':');
  char host[16];
  const std::size_t hostLength = colon ? static_cast<std::size_t>(colon - text) : std::strlen(text);
  if (hostLength == 0 || hostLength >= sizeof host) return false;
  std::memcpy(host, text, hostLength);
  host[hostLength] = '\0';
  in_addr addr{};
  if (inet_pton(AF_INET, host, &addr) != 1) return false;
  unsigned long port = 0;
  if (colon) {
    const char* digits = colon + 1;
    if (*digits == '\0' || std::strlen(digits) > 5) return false;
    for (const char* p = digits; *p; ++p) {
      if (*p < '0' || *p > '9') return false;
    }
    port = std::strtoul(digits, nullptr, 10);
    if (port > 65535) return false;
  }
  address = sockaddr_in{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr = addr;
  return true;
}

}  // namespace

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
  if (Injected(sockets_test::Call::kWSAStartup)) return t_lastError;
  if (!lpWSAData) return WSAEFAULT;
  if (LOBYTE(wVersionRequested) < 2) return WSAVERNOTSUPPORTED;
  const WORD highest = MAKEWORD(2, 2);
  WORD version = wVersionRequested;
  if (LOBYTE(version) > 2 || (LOBYTE(version) == 2 && HIBYTE(version) > 2)) version = highest;
  if (g_faultsActive && g_reportedVersion != 0) version = g_reportedVersion;
  lpWSAData->wVersion = version;
  lpWSAData->wHighVersion = highest;
  ++g_started;
  return 0;
}

int WSACleanup() {
  if (g_started == 0) return Fail(WSANOTINITIALISED);
  --g_started;
  return 0;
}

int WSAGetLastError() { return t_lastError; }

void WSASetLastError(int iError) { t_lastError = iError; }

int WSAStringToAddressA(char* AddressString, int AddressFamily, WSAPROTOCOL_INFOA*,
                        sockaddr* lpAddress, int* lpAddressLength) {
  if (Injected(sockets_test::Call::kWSAStringToAddressA)) return SOCKET_ERROR;
  if (!AddressString || !lpAddress || !lpAddressLength) return Fail(WSAEFAULT);
  if (AddressFamily != AF_INET) return Fail(WSAEINVAL);
  if (*lpAddressLength < static_cast<int>(sizeof(sockaddr_in))) {
    *lpAddressLength = sizeof(sockaddr_in);
    return Fail(WSAEFAULT);
  }
  sockaddr_in address{};
  if (!ParseInet(AddressString, address)) return Fail(WSAEINVAL);
  std::memcpy(lpAddress, &address, sizeof address);
  *lpAddressLength = sizeof address;
  return 0;
}

SOCKET WSASocketA(int af, int type, int protocol, WSAPROTOCOL_INFOA*, GROUP, DWORD dwFlags) {
  if (Injected(sockets_test::Call::kWSASocketA)) return INVALID_SOCKET;
  if (g_started == 0) {
    Fail(WSANOTINITIALISED);
    return INVALID_SOCKET;
  }
  const int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    FailErrno();
    return INVALID_SOCKET;
  }
  if (static_cast<std::size_t>(fd) >= g_ours.size()) {
    ::close(fd);
    Fail(WSAEMFILE);
    return INVALID_SOCKET;
  }
  g_ours.set(static_cast<std::size_t>(fd));
  g_multipoint.set(static_cast<std::size_t>(fd),
                   (dwFlags & (WSA_FLAG_MULTIPOINT_C_LEAF | WSA_FLAG_MULTIPOINT_D_LEAF)) != 0);
  g_interface[static_cast<std::size_t>(fd)] = 0;
  ++g_openSockets;
  return static_cast<SOCKET>(fd);
}

int closesocket(SOCKET s) {
  if (!Ours(s)) return Fail(WSAENOTSOCK);
  // Cancel the receives posted on it: from here on nothing writes into their buffers.
  for (WSAOVERLAPPED* p = g_posted; p;) {
    WSAOVERLAPPED* next = p->pNextPosted;
    if (p->hPostedSocket == s) {
      Unlink(p);
      p->iState = kFailed;
      p->iError = WSA_OPERATION_ABORTED;
      p->dwBytes = 0;
    }
    p = next;
  }
  g_ours.reset(s);
  g_multipoint.reset(s);
  g_interface[s] = 0;
  --g_openSockets;
  ::close(Fd(s));
  return 0;
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  if (Injected(sockets_test::Call::kSetsockopt)) return SOCKET_ERROR;
  if (!Ours(s)) return Fail(WSAENOTSOCK);
  if (optlen < 0) return Fail(WSAEINVAL);
  if (::setsockopt(Fd(s), level, optname, static_cast<const void*>(optval),
                   static_cast<socklen_t>(optlen)) != 0) {
    return FailErrno();
  }
  return 0;
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
  if (Injected(sockets_test::Call::kBind)) return SOCKET_ERROR;
  if (!Ours(s)) return Fail(WSAENOTSOCK);
  if (!name || namelen < 0) return Fail(WSAEFAULT);
  sockaddr_in local{};
  if (g_multipoint.test(s) && name->sa_family == AF_INET &&
      namelen >= static_cast<int>(sizeof local)) {
    std::memcpy(&local, name, sizeof local);
  }
  const in_addr_t ifaceAddress = local.sin_addr.s_addr;
  if (ifaceAddress == INADDR_ANY || IN_MULTICAST(ntohl(ifaceAddress))) {
    if (::bind(Fd(s), name, static_cast<socklen_t>(namelen)) != 0) return FailErrno();
    return 0;
  }
  // A multipoint socket bound to a local interface receives the groups it joins there and sends
  // through it. A BSD socket bound to a unicast address would receive no multicast at all, so
  // the descriptor is bound to every address and the interface is kept for the join.
  if (const int error = LocalAddressError(ifaceAddress)) return Fail(FromErrno(error));
  local.sin_addr.s_addr = INADDR_ANY;
  const in_addr outgoing{ifaceAddress};
  if (::bind(Fd(s), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::setsockopt(Fd(s), IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof outgoing) != 0) {
    return FailErrno();
  }
  g_interface[s] = ifaceAddress;
  return 0;
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) {
  if (Injected(sockets_test::Call::kGetsockname)) return SOCKET_ERROR;
  if (!Ours(s)) return Fail(WSAENOTSOCK);
  if (!name || !namelen || *namelen < 0) return Fail(WSAEFAULT);
  socklen_t length = static_cast<socklen_t>(*namelen);
  if (!BoundAddress(s, name, length)) return FailErrno();
  *namelen = static_cast<int>(length);
  return 0;
}

int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen) {
  if (Injected(sockets_test::Call::kSendto)) return SOCKET_ERROR;
  if (!Ours(s)) return Fail(WSAENOTSOCK);
  if (!buf || len < 0 || !to || tolen < 0) return Fail(WSAEFAULT);
  const ssize_t sent = ::sendto(Fd(s), static_cast<const void*>(buf), static_cast<std::size_t>(len),
                                flags | MSG_NOSIGNAL, to, static_cast<socklen_t>(tolen));
  if (sent < 0) return FailErrno();
  return static_cast<int>(sent);
}

SOCKET WSAJoinLeaf(SOCKET s, const sockaddr* name, int namelen, LPWSABUF, LPWSABUF, QOS*, QOS*,
                   DWORD dwFlags) {
  if (Injected(sockets_test::Call::kWSAJoinLeaf)) return INVALID_SOCKET;
  if (!Ours(s)) {
    Fail(WSAENOTSOCK);
    return INVALID_SOCKET;
  }
  if (!name || namelen < static_cast<int>(sizeof(sockaddr_in)) || name->sa_family != AF_INET) {
    Fail(WSAEFAULT);
    return INVALID_SOCKET;
  }
  sockaddr_in group{};
  std::memcpy(&group, name, sizeof group);
  if (dwFlags & (JL_RECEIVER_ONLY | JL_BOTH)) {
    // Join on the interface the socket is bound to, and receive only the groups joined here.
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (!BoundAddress(s, reinterpret_cast<sockaddr*>(&bound), length)) {
      FailErrno();
      return INVALID_SOCKET;
    }
    ip_mreq request{};
    request.imr_multiaddr = group.sin_addr;
    request.imr_interface = bound.sin_addr;
    const int off = 0;
    if (::setsockopt(Fd(s), IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) != 0 ||
        ::setsockopt(Fd(s), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) {
      FailErrno();
      return INVALID_SOCKET;
    }
  }
  return s;
}

int WSARecvFrom(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount, DWORD* lpNumberOfBytesRecvd,
                DWORD* lpFlags, sockaddr* lpFrom, int* lpFromlen, LPWSAOVERLAPPED lpOverlapped,
                LPWSAOVERLAPPED_COMPLETION_ROUTINE) {
  // A receive that cannot be posted leaves the record failed, so that no earlier completion
  // is reported for it again.
  if (lpOverlapped) {
    Unlink(lpOverlapped);
    lpOverlapped->iState = kFailed;
    lpOverlapped->iError = WSAEINVAL;
    lpOverlapped->dwBytes = 0;
  }
  if (Injected(sockets_test::Call::kWSARecvFrom)) {
    if (lpOverlapped) lpOverlapped->iError = t_lastError;
    return SOCKET_ERROR;
  }
  if (!Ours(s)) return Fail(WSAENOTSOCK);
  if (!lpBuffers || dwBufferCount != 1 || !lpFlags || !lpOverlapped) return Fail(WSAEINVAL);
  if (lpFrom && (!lpFromlen || *lpFromlen < 0)) return Fail(WSAEFAULT);
  lpOverlapped->hPostedSocket = s;
  lpOverlapped->iState = kPosted;
  lpOverlapped->iError = 0;
  lpOverlapped->dwFlags = 0;
  lpOverlapped->pBuffer = lpBuffers[0].buf;
  lpOverlapped->ulLength = lpBuffers[0].len;
  lpOverlapped->pFrom = lpFrom;
  lpOverlapped->pFromLength = lpFromlen;
  lpOverlapped->pNextPosted = g_posted;
  g_posted = lpOverlapped;
  if (lpNumberOfBytesRecvd) *lpNumberOfBytesRecvd = 0;
  return Fail(WSA_IO_PENDING);
}

BOOL WSAGetOverlappedResult(SOCKET s, LPWSAOVERLAPPED lpOverlapped, DWORD* lpcbTransfer, BOOL fWait,
                            DWORD* lpdwFlags) {
  if (!lpOverlapped || !lpcbTransfer || !lpdwFlags) {
    Fail(WSAEFAULT);
    return FALSE;
  }
  if (lpOverlapped->iState == kPosted) {
    if (lpOverlapped->hPostedSocket != s || !Ours(s)) {
      Fail(WSAENOTSOCK);
      return FALSE;
    }
    socklen_t fromLength =
        lpOverlapped->pFrom ? static_cast<socklen_t>(*lpOverlapped->pFromLength) : 0;
    const ssize_t got =
        ::recvfrom(Fd(s), lpOverlapped->pBuffer, lpOverlapped->ulLength, fWait ? 0 : MSG_DONTWAIT,
                   lpOverlapped->pFrom, lpOverlapped->pFrom ? &fromLength : nullptr);
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        Fail(WSA_IO_INCOMPLETE);
        return FALSE;
      }
      Unlink(lpOverlapped);
      lpOverlapped->iState = kFailed;
      lpOverlapped->iError = FromErrno(errno);
    } else {
      Unlink(lpOverlapped);
      lpOverlapped->iState = kCompleted;
      lpOverlapped->dwBytes = static_cast<DWORD>(got);
      if (lpOverlapped->pFrom) *lpOverlapped->pFromLength = static_cast<int>(fromLength);
      if (lpOverlapped->hEvent) static_cast<Event*>(lpOverlapped->hEvent)->bSignaled = true;
    }
  }
  *lpcbTransfer = lpOverlapped->dwBytes;
  *lpdwFlags = lpOverlapped->dwFlags;
  switch (lpOverlapped->iState) {
    case kCompleted:
      return TRUE;
    case kFailed:
      Fail(lpOverlapped->iError);
      return FALSE;
    default:
      Fail(WSAEINVAL);  // nothing was posted with this record
      return FALSE;
  }
}

WSAEVENT WSACreateEvent() {
  if (Injected(sockets_test::Call::kWSACreateEvent)) return WSA_INVALID_EVENT;
  ++g_openEvents;
  return new Event;  // released by WSACloseEvent
}

BOOL WSAResetEvent(WSAEVENT hEvent) {
  if (!hEvent) {
    Fail(WSAEINVAL);
    return FALSE;
  }
  static_cast<Event*>(hEvent)->bSignaled = false;
  return TRUE;
}

BOOL WSACloseEvent(WSAEVENT hEvent) {
  if (!hEvent) {
    Fail(WSAEINVAL);
    return FALSE;
  }
  delete static_cast<Event*>(hEvent);
  --g_openEvents;
  return TRUE;
}

namespace sockets_test {

ScopedFaults::ScopedFaults() {
  g_faults.Clear();
  g_reportedVersion = 0;
  g_faultsActive = true;
}

ScopedFaults::~ScopedFaults() {
  g_faultsActive = false;
  g_faults.Clear();
  g_reportedVersion = 0;
}

void ScopedFaults::Fail(Call call, int error, int skip, int times) {
  g_faults.Fail(call, error, skip, times);
}

void ScopedFaults::ReportVersion(WORD version) { g_reportedVersion = version; }

int OpenSockets() { return g_openSockets; }

int PendingReceives() {
  int count = 0;
  for (const WSAOVERLAPPED* p = g_posted; p; p = p->pNextPosted) ++count;
  return count;
}

int OpenEvents() { return g_openEvents; }

}  // namespace sockets_test
