// A plug-in for the host's tests: three inputs, handed back as its first three outputs, with
// the number of calls so far as the fourth. Its init and exit calls leave the files
// "probe_plugin.init" and "probe_plugin.exit" in the current directory, so that a test sees
// whether the host called them. A call whose first input is 13 reports in a message box, as a
// channel reports a failure; one whose first input is 14 only writes to standard error.
#include <cstdint>
#include <cstdio>

#include "kyteplugin.h"
#include "msgbox.h"

namespace {

int calls = 0;

void Mark(const char* name) {
  if (std::FILE* mark = std::fopen(name, "w")) std::fclose(mark);
}

void Echo(double* in, double* out) {
  for (int i = 0; i < 3; ++i) out[i] = in[i];
  out[3] = ++calls;
  if (in[0] == 13) AfxMessageBox("probe reports", MB_ICONEXCLAMATION);
  if (in[0] == 14) std::fprintf(stderr, "probe: call %d writes\n", calls);
}

void Init(double* in, double* out) {
  Mark("probe_plugin.init");
  Echo(in, out);
}

CBlock blocks[1] = {{7, "probe", "a b  c", "a b c calls", "aux", 3, Init, Echo}};

}  // namespace

extern "C" {

KYTE_PLUGIN_EXPORT std::int32_t nBlocks = 1;
KYTE_PLUGIN_EXPORT CBlock* pCBlockx = blocks;
KYTE_PLUGIN_EXPORT void CBExit() { Mark("probe_plugin.exit"); }

}  // extern "C"
