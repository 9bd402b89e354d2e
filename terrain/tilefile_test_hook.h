#pragma once
// Test hook of the tile files: makes chosen opens, reads, writes or closes of TileFile fail, so
// that a test reaches every failure path of a pass without a full or failing disk.
//
//   tilefile_test::ScopedFaults faults;
//   faults.Fail(tilefile_test::Call::kWrite, ENOSPC, /*skip=*/2);  // the third write fails
//   ... pass under test ...
//   EXPECT_EQ(faults.Injected(), 1);
//
// A failing open, read or write does nothing and reports its failure with the given error in
// errno. A failing close still releases the file, as a close that fails on Linux does. The
// temporary file that stands in for a missing input tile counts as an open. Faults end with the
// scope. Not thread-safe.

namespace tilefile_test {

enum class Call { kOpen, kRead, kWrite, kClose };

class ScopedFaults {
 public:
  ScopedFaults();
  ~ScopedFaults();
  ScopedFaults(const ScopedFaults&) = delete;
  ScopedFaults& operator=(const ScopedFaults&) = delete;

  // After `skip` calls of `call` that succeed, the next `times` calls fail with `error`
  // (times < 0: every later call).
  void Fail(Call call, int error, int skip = 0, int times = 1);
  // Calls that the faults have made fail since the scope began.
  int Injected() const;
};

}  // namespace tilefile_test
