#pragma once
// What a plug-in reports while the host runs it. The simulator's plug-in calls return nothing:
// a plug-in reports a failure to the operator, as the channels it carries do, in a message box
// and on the C library's standard error stream. The message box shows no window here and stays
// inside the plug-in's own copy of the file-mapping layer, so the host watches that stream.

#include <cstdio>

// While it lives, `stderr` is a stream of its own that passes every byte on to standard error at
// once, unbuffered, and notes that something was written; its end puts the C library's stream
// back. Only writes through `stderr` are seen (not a plug-in's std::cerr or write(2, ...)).
class ReportWatch {
 public:
  ReportWatch();
  ~ReportWatch();
  ReportWatch(const ReportWatch&) = delete;
  ReportWatch& operator=(const ReportWatch&) = delete;

  // Whether anything was written to `stderr` since the watch began.
  bool Reported() const { return reported_; }

 private:
  static ssize_t Write(void* cookie, const char* data, std::size_t size);

  std::FILE* original_;
  std::FILE* watching_ = nullptr;
  bool reported_ = false;
};
