// A plug-in for the host's tests: three inputs, handed back as its first three outputs, with
// the number of calls so far as the fourth. Its init call leaves the file "probe_plugin.init"
// in the current directory, so that a test sees whether the host called it.
#include <cstdint>
#include <cstdio>

#include "kyteplugin.h"

namespace {

int calls = 0;

void Echo(double* in, double* out) {
  for (int i = 0; i < 3; ++i) out[i] = in[i];
  out[3] = ++calls;
}

void Init(double* in, double* out) {
  if (std::FILE* mark = std::fopen("probe_plugin.init", "w")) std::fclose(mark);
  Echo(in, out);
}

CBlock blocks[1] = {{7, "probe", "a b  c", "a b c calls", "aux", 3, Init, Echo}};

}  // namespace

extern "C" {

KYTE_PLUGIN_EXPORT std::int32_t nBlocks = 1;
KYTE_PLUGIN_EXPORT CBlock* pCBlockx = blocks;
KYTE_PLUGIN_EXPORT void CBExit() {}

}  // extern "C"
