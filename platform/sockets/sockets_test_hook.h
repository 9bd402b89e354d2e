#pragma once
// Test hook of the sockets layer: makes chosen calls fail, changes the version WSAStartup
// reports, and shows what the layer still holds.
//
//   sockets_test::ScopedFaults faults;
//   faults.Fail(sockets_test::Call::kBind);               // the next bind fails
//   faults.Fail(sockets_test::Call::kSendto, WSAENETDOWN, /*skip=*/1);  // the 2nd sendto fails
//   ... code under test ...
//
// A failing call does nothing and reports SOCKET_ERROR (INVALID_SOCKET, FALSE or
// WSA_INVALID_EVENT where that is the call's failure) with the given error. Faults end with
// the scope. Not thread-safe.

#include "sockets.h"

namespace sockets_test {

enum class Call {
  kWSAStartup,
  kWSAStringToAddressA,
  kWSASocketA,
  kSetsockopt,
  kBind,
  kGetsockname,
  kWSAJoinLeaf,
  kSendto,
  kWSARecvFrom,
  kWSACreateEvent,
};

class ScopedFaults {
 public:
  ScopedFaults();
  ~ScopedFaults();
  ScopedFaults(const ScopedFaults&) = delete;
  ScopedFaults& operator=(const ScopedFaults&) = delete;

  // After `skip` calls that succeed, the next `times` calls of `call` fail with `error`
  // (times < 0: every later call).
  void Fail(Call call, int error = WSAENETDOWN, int skip = 0, int times = 1);
  // WSAStartup reports `version` as the version the caller gets.
  void ReportVersion(WORD version);
};

// Sockets made by WSASocketA and not closed yet.
int OpenSockets();
// Receives posted and neither completed nor cancelled yet: the layer may still write into
// their buffers.
int PendingReceives();
// Events made by WSACreateEvent and not closed yet.
int OpenEvents();

}  // namespace sockets_test
