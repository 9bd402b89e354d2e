#pragma once
// netwatch's lines for packets on the group, polled through the test's own open transport.

#include <string>

namespace watchlines {

// What netwatch prints for the next `lines` packets that reach its receiving record, polling
// for at most two seconds.
std::string PollLines(int lines);

}  // namespace watchlines
