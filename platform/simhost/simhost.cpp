// simhost: stands in for the simulator. Loads a plug-in library, reads `nBlocks` and
// `pCBlockx`, calls the first record's init function, then its per-frame function at the given
// rate for the given number of frames, printing the outputs of every call, and calls `CBExit`.
#include <dlfcn.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kyteplugin.h"
#include "support/ValueList.h"

namespace {

// SIGTERM or SIGINT ends the run after the current frame, as closing the simulator does.
volatile sig_atomic_t stopRequested = 0;
void RequestStop(int) { stopRequested = 1; }

constexpr const char kUsage[] =
    "usage: simhost LIBRARY [options]\n"
    "  -r, --rate HZ          frames per second (default 60; 0: as fast as possible)\n"
    "  -n, --frames N         per-frame calls after the init call (default 1); SIGTERM or\n"
    "                         SIGINT ends the run early, with the exit call\n"
    "  -u, --input LIST       constant inputs: one value for every input, in the order of the\n"
    "                         input names, or one value for all of them\n"
    "  -f, --input-file FILE  one LIST of inputs a line for each call, init first (the last\n"
    "                         line repeats; blank lines are skipped)\n"
    "      --help             this text\n"
    "A LIST holds numbers (as C's strtod reads them) separated by commas or blanks, with\n"
    "brackets around them or without: 1,2,3 or [1 2 3].\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "simhost: %s\n%s", why.c_str(), kUsage);
  return 2;
}

std::size_t CountNames(const char* names) {
  std::istringstream in(names != nullptr ? names : "");
  std::size_t n = 0;
  for (std::string word; in >> word;) ++n;
  return n;
}

bool ParseRow(const std::string& text, std::vector<double>& row) {
  const auto words = SplitValueList(text);
  if (!words) return false;
  row.clear();
  for (const std::string& word : *words) {
    char* end = nullptr;
    double v = std::strtod(word.c_str(), &end);
    if (end == word.c_str() || *end != '\0') return false;
    row.push_back(v);
  }
  return true;
}

// One row of inputs and where it came from, for the report of a row that does not fit.
struct InputRow {
  std::vector<double> values;
  std::string origin;  // "" for -u, " in line N of FILE" for a line of an input file
};

void PrintFrame(const char* label, long frame, const std::vector<double>& out) {
  std::printf("%s %ld:", label, frame);
  for (double v : out) std::printf(" %.17g", v);
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string library;
  double rate = 60.0;
  long frames = 1;
  std::vector<InputRow> rows;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= argc) return false;
      v = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "-r" || arg == "--rate") {
      char* end = nullptr;
      if (!value(v) || (rate = std::strtod(v.c_str(), &end), *end != '\0') || !(rate >= 0.0)) {
        return Usage("bad rate");
      }
    } else if (arg == "-n" || arg == "--frames") {
      char* end = nullptr;
      if (!value(v) || (frames = std::strtol(v.c_str(), &end, 10), *end != '\0') || frames < 0) {
        return Usage("bad number of frames");
      }
    } else if (arg == "-u" || arg == "--input") {
      std::vector<double> row;
      if (!value(v) || !ParseRow(v, row)) return Usage("bad inputs");
      rows.assign(1, InputRow{row, ""});
    } else if (arg == "-f" || arg == "--input-file") {
      if (!value(v)) return Usage("no input file");
      std::ifstream in(v);
      if (!in) return Usage("cannot read " + v);
      rows.clear();
      std::vector<double> row;
      long number = 0;
      for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        if (!ParseRow(line, row)) return Usage("not a row of numbers: " + line);
        rows.push_back(InputRow{row, " in line " + std::to_string(number) + " of " + v});
      }
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage("unknown argument " + arg);
    } else if (library.empty()) {
      library = arg;
    } else {
      return Usage("more than one library");
    }
  }
  if (library.empty()) return Usage("no plug-in library given");

  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "simhost: %s\n", dlerror());
    return 1;
  }
  auto* nBlocks = static_cast<std::int32_t*>(dlsym(handle, "nBlocks"));
  auto* pCBlockx = static_cast<CBlock**>(dlsym(handle, "pCBlockx"));
  auto exitFunction = reinterpret_cast<PFNBLOCKEXIT>(dlsym(handle, "CBExit"));
  if (nBlocks == nullptr || pCBlockx == nullptr || exitFunction == nullptr || *nBlocks < 1 ||
      *pCBlockx == nullptr) {
    std::fprintf(stderr, "simhost: %s offers no block (nBlocks, pCBlockx, CBExit)\n",
                 library.c_str());
    return 1;
  }
  const CBlock& block = **pCBlockx;
  std::vector<double> in(CountNames(block.pszInputNames), 0.0);
  std::vector<double> out(CountNames(block.pszOutputNames), 0.0);
  // Every row the run uses gives one value for every input, or one for all of them: checked
  // before the plug-in is called.
  for (std::size_t r = 0; r < rows.size() && r <= static_cast<std::size_t>(frames); ++r) {
    const std::size_t given = rows[r].values.size();
    if (given != in.size() && given != 1) {
      std::fprintf(stderr, "simhost: %zu input values for %zu inputs%s\n", given, in.size(),
                   rows[r].origin.c_str());
      return 2;
    }
  }
  std::printf("block %s type %d inputs %zu outputs %zu aux \"%s\" %d\n", block.pszName,
              block.iBlockType, in.size(), out.size(), block.pszAuxNames, block.iAuxValue);

  auto inputsFor = [&](long call) {
    if (rows.empty()) return;
    const std::vector<double>& row =
        rows[std::min<std::size_t>(static_cast<std::size_t>(call), rows.size() - 1)].values;
    for (std::size_t i = 0; i < in.size(); ++i) {
      in[i] = row.size() == 1 ? row[0] : row[i];
    }
  };
  inputsFor(0);
  block.pfnInit(in.data(), out.data());
  PrintFrame("init", 0, out);
  auto next = std::chrono::steady_clock::now();
  signal(SIGTERM, RequestStop);
  signal(SIGINT, RequestStop);
  for (long frame = 1; frame <= frames && !stopRequested; ++frame) {
    if (rate > 0.0) {
      next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(1.0 / rate));
      std::this_thread::sleep_until(next);
    }
    inputsFor(frame);
    block.pfnStep(in.data(), out.data());
    PrintFrame("frame", frame, out);
  }
  exitFunction();
  std::printf("exit\n");
  dlclose(handle);
  return 0;
}
