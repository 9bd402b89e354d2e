// simhost: stands in for the simulator. Loads a plug-in library, reads `nBlocks` and
// `pCBlockx`, calls the first record's init function, then its per-frame function at the given
// rate for the given number of frames, printing the outputs of every call, and calls `CBExit`.
#include <dlfcn.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "kyteplugin.h"
#include "msgbox_test_hook.h"
#include "support/InputLines.h"
#include "support/PrintableText.h"
#include "support/ValueList.h"

namespace {

// SIGTERM or SIGINT ends the run after the current frame, as closing the simulator does.
volatile sig_atomic_t stopRequested = 0;
void RequestStop(int) { stopRequested = 1; }

// A positive rate below this would make one frame outlast the frame clock's range.
constexpr double kMinRate = 1e-6;

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
  std::fprintf(stderr, "simhost: %s\n%s", PrintableText(why).c_str(), kUsage);
  return 2;
}

std::size_t CountNames(const char* names) {
  std::istringstream in(names != nullptr ? names : "");
  std::size_t n = 0;
  for (std::string word; in >> word;) ++n;
  return n;
}

bool ParseRow(std::string_view text, std::vector<double>& row) {
  const auto words = SplitValueList(text);
  if (!words) return false;
  row.clear();
  for (const std::string& word : *words) {
    char* end = nullptr;
    double v = std::strtod(word.c_str(), &end);
    if (end == word.c_str() || end != word.c_str() + word.size()) return false;
    row.push_back(v);
  }
  return true;
}

// 0, or a finite rate whose frame the clock can count.
bool ParseRate(const std::string& text, double& rate) {
  char* end = nullptr;
  rate = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' &&
         (rate == 0.0 || (rate >= kMinRate && std::isfinite(rate)));
}

bool ParseFrames(const std::string& text, long& frames) {
  char* end = nullptr;
  errno = 0;
  frames = std::strtol(text.c_str(), &end, 10);
  return end != text.c_str() && *end == '\0' && errno == 0 && frames >= 0;
}

// One row of inputs and where it came from, for the report of a row that does not fit.
struct InputRow {
  std::vector<double> values;
  std::string origin;  // "" for -u, " in line N of FILE" for a line of an input file
};

// The rows of an input file that a run of `frames` frames uses (the init call's first): "" or
// why the file is refused.
std::string ReadRows(const std::string& file, long frames, std::vector<InputRow>& rows) {
  const std::string name = PrintableText(file);
  std::vector<double> row;
  const std::string refused = ReadInputLines(file, [&](long number, std::string_view line) {
    const std::string origin = " in line " + std::to_string(number) + " of " + name;
    if (!ParseRow(line, row)) return "not a row of numbers" + origin + ": " + QuotedText(line);
    if (rows.size() <= static_cast<unsigned long>(frames)) rows.push_back(InputRow{row, origin});
    return std::string();
  });
  if (!refused.empty()) return refused;
  if (rows.empty()) return name + " holds no row of inputs";
  return "";
}

// Prints one line of the run; false once standard output has failed.
bool PrintFrame(const char* label, long frame, const std::vector<double>& out) {
  std::printf("%s %ld:", label, frame);
  for (double v : out) std::printf(" %.17g", v);
  std::printf("\n");
  return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

int OutputFailed(int error) {
  std::fprintf(stderr, "simhost: cannot write standard output: %s\n",
               std::strerror(error != 0 ? error : EIO));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string library;
  double rate = 60.0;
  long frames = 1;
  std::vector<InputRow> rows;  // the -u list, or the input file's rows once it is read
  std::string inputFile;       // the -f file; the later of -u and -f counts
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string v;
    auto value = [&] {
      if (i + 1 >= argc) return false;
      v = argv[++i];
      return true;
    };
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "-r" || arg == "--rate") {
      if (!value()) return Usage(arg + " needs a value");
      if (!ParseRate(v, rate)) return Usage("bad rate: " + QuotedText(v));
    } else if (arg == "-n" || arg == "--frames") {
      if (!value()) return Usage(arg + " needs a value");
      if (!ParseFrames(v, frames)) return Usage("bad number of frames: " + QuotedText(v));
    } else if (arg == "-u" || arg == "--input") {
      if (!value()) return Usage(arg + " needs a value");
      std::vector<double> row;
      if (!ParseRow(v, row)) return Usage("bad inputs: " + QuotedText(v));
      rows.assign(1, InputRow{row, ""});
      inputFile.clear();
    } else if (arg == "-f" || arg == "--input-file") {
      if (!value()) return Usage(arg + " needs a value");
      inputFile = v;
      rows.clear();
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage("unknown argument: " + QuotedText(arg));
    } else if (library.empty()) {
      library = arg;
    } else {
      return Usage("more than one library: " + QuotedText(arg));
    }
  }
  if (library.empty()) return Usage("no plug-in library given");
  if (!inputFile.empty()) {
    const std::string refused = ReadRows(inputFile, frames, rows);
    if (!refused.empty()) return Usage(refused);
  }

  // The plug-in shares the process's one message box: every box from its loading to its
  // unloading is a report.
  const std::uint64_t boxesBefore = msgbox_test::MessageBoxesShown();
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "simhost: %s\n", PrintableText(dlerror()).c_str());
    return 1;
  }
  auto* nBlocks = static_cast<std::int32_t*>(dlsym(handle, "nBlocks"));
  auto* pCBlockx = static_cast<CBlock**>(dlsym(handle, "pCBlockx"));
  auto exitFunction = reinterpret_cast<PFNBLOCKEXIT>(dlsym(handle, "CBExit"));
  if (nBlocks == nullptr || pCBlockx == nullptr || exitFunction == nullptr || *nBlocks < 1 ||
      *pCBlockx == nullptr) {
    std::fprintf(stderr, "simhost: %s offers no block (nBlocks, pCBlockx, CBExit)\n",
                 QuotedText(library).c_str());
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
  if (std::fflush(stdout) != 0) return OutputFailed(errno);

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
  // A line that cannot be written ends the run, with the exit call.
  bool printed = PrintFrame("init", 0, out);
  int printError = printed ? 0 : errno;
  auto next = std::chrono::steady_clock::now();
  signal(SIGTERM, RequestStop);
  signal(SIGINT, RequestStop);
  for (long frame = 1; printed && frame <= frames && !stopRequested; ++frame) {
    if (rate > 0.0) {
      next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(1.0 / rate));
      std::this_thread::sleep_until(next);
    }
    inputsFor(frame);
    block.pfnStep(in.data(), out.data());
    printed = PrintFrame("frame", frame, out);
    if (!printed) printError = errno;
  }
  exitFunction();
  if (printed) {
    std::printf("exit\n");
    printed = std::fflush(stdout) == 0;
    if (!printed) printError = errno;
  }
  dlclose(handle);
  const bool reported = msgbox_test::MessageBoxesShown() != boxesBefore;
  if (!printed) return OutputFailed(printError);
  // A plug-in returns no status: a message box, as its channels show for every failure, is its
  // failure.
  if (reported) {
    std::fprintf(stderr, "simhost: %s reported an error\n", QuotedText(library).c_str());
    return 1;
  }
  return 0;
}
