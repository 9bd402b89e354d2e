// When the calls that a test hook makes fail do fail: for one kind of call a countdown of the
// calls that pass first and of those that fail then, and for each kind of call of a hook its
// countdown and the error its failures give.
#pragma once

#include <array>
#include <cstddef>

// After `skip` calls that pass, the next `times` calls fail (times < 0: every later call;
// times 0: none).
class FaultCountdown {
 public:
  constexpr FaultCountdown() = default;  // no call fails
  constexpr FaultCountdown(int skip, int times) : skip_(skip), times_(times) {}

  // Counts one call: true when it is to fail.
  constexpr bool Falls() {
    if (times_ == 0) return false;
    if (skip_ > 0) {
      --skip_;
      return false;
    }
    if (times_ > 0) --times_;
    return true;
  }

 private:
  int skip_ = 0;
  int times_ = 0;
};

// The faults of a hook whose kinds of call are the values 0 to kCalls - 1 of `Call`. No call
// fails until Fail sets a countdown for its kind.
template <class Call, std::size_t kCalls, class Error>
class FaultTable {
 public:
  // Calls of `call` fail with `error` from now on as FaultCountdown(skip, times) says, in place
  // of any countdown set before.
  void Fail(Call call, Error error, int skip, int times) {
    faults_[Index(call)] = Fault{FaultCountdown(skip, times), error};
  }

  // No call fails any more, and none has failed.
  void Clear() {
    faults_ = {};
    failed_ = 0;
  }

  // Counts one call of `call`: true, with its error in `error`, when it is to fail.
  bool Falls(Call call, Error& error) {
    Fault& fault = faults_[Index(call)];
    if (!fault.countdown.Falls()) return false;
    error = fault.error;
    ++failed_;
    return true;
  }

  // Calls made to fail since the last Clear.
  int Failed() const { return failed_; }

 private:
  struct Fault {
    FaultCountdown countdown;
    Error error{};
  };

  static std::size_t Index(Call call) { return static_cast<std::size_t>(call); }

  std::array<Fault, kCalls> faults_{};
  int failed_ = 0;
};
