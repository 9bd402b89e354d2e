// A file that a terrain program cannot make or open: the run names the file and the system's
// reason, and ends with a failure status. The first output file of each program is tried as a
// directory, in a directory that is missing (where the program may write outside the current
// directory: tileprint's picture; landimport's grid lies beside its input) and in a directory
// the user cannot write to; so are inputs that are directories or missing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "program_inputs.h"

namespace {

namespace fs = std::filesystem;

enum class Plant {
  kDirectory,  // a directory under the file's name
  kNothing,    // nothing: the name leads through a directory that does not exist
  kReadOnly,   // the program runs, as a user who is not root, in a directory it cannot write to
};

struct Case {
  const char* what;
  const char* program;
  std::vector<std::string> args;
  std::vector<std::string> inputs;  // copied from the test's directory
  Plant plant;
  const char* name;  // the file planted as a directory
  int status;
  const char* tail;          // the last lines of standard error
  bool tiles_first = false;  // tintshade's tiles made before, writable by the user
};

const Case kCases[] = {
    {"gridforge: temporary a directory",
     GRIDFORGE_PATH,
     kGridforge,
     {"g.i16"},
     Plant::kDirectory,
     "TempData.tmp",
     255,
     "\n error: Could not open './TempData.tmp'\ngridforge: Is a directory\n"},
    {"gridforge: read-only directory",
     GRIDFORGE_PATH,
     kGridforge,
     {"g.i16"},
     Plant::kReadOnly,
     "",
     255,
     "\n error: Could not open './TempData.tmp'\ngridforge: Permission denied\n"},
    {"gridforge: input a directory",
     GRIDFORGE_PATH,
     {"in", "48", "49", "-124", "-123", "46", "30", "14.5"},
     {},
     Plant::kDirectory,
     "in",
     255,
     "\n error: Could not open 'in'\ngridforge: Is a directory\n"},
    {"demimport: grid file a directory",
     DEMIMPORT_PATH,
     {"d.dem"},
     {"d.dem"},
     Plant::kDirectory,
     "068_148.1201x1201",
     255,
     "\n error: Could not open '068_148.1201x1201'\ndemimport: Is a directory\n"},
    {"demimport: read-only directory",
     DEMIMPORT_PATH,
     {"d.dem"},
     {"d.dem"},
     Plant::kReadOnly,
     "",
     255,
     "\n error: Could not open '068_148.1201x1201'\ndemimport: Permission denied\n"},
    {"demimport: input a directory",
     DEMIMPORT_PATH,
     {"in"},
     {},
     Plant::kDirectory,
     "in",
     255,
     "\n error:Could not open 'in'\ndemimport: Is a directory\n"},
    {"landimport: grid file a directory",
     LANDIMPORT_PATH,
     kLandimport,
     {"l.ctg"},
     Plant::kDirectory,
     "l.ctg.0004x0006",
     255,
     "\n error: Could not open 'l.ctg.0004x0006'\nlandimport: Is a directory\n"},
    {"landimport: read-only directory",
     LANDIMPORT_PATH,
     kLandimport,
     {"l.ctg"},
     Plant::kReadOnly,
     "",
     255,
     "\n error: Could not open 'l.ctg.0004x0006'\nlandimport: Permission denied\n"},
    {"landimport: input in a missing directory",
     LANDIMPORT_PATH,
     {"nodir/l.ctg", "0", "0", "0", "1", "1"},
     {},
     Plant::kNothing,
     "",
     255,
     "\n error:Could not open 'nodir/l.ctg'\nlandimport: No such file or directory\n"},
    {"tintshade: colour tile a directory",
     TINTSHADE_PATH,
     Box("1"),
     {},
     Plant::kDirectory,
     "066_161.c32",
     255,
     "trn_shading: Is a directory\ntrn_shading: Can't open 066_161.c32\n"
     "tintshade: error in calculating shading\n"},
    {"tintshade: read-only directory",
     TINTSHADE_PATH,
     Box("1"),
     {},
     Plant::kReadOnly,
     "",
     255,
     "trn_shading: Permission denied\ntrn_shading: Can't open 066_161.c32\n"
     "tintshade: error in calculating shading\n"},
    {"tintshade: level file a directory",
     TINTSHADE_PATH,
     Box("1"),
     {},
     Plant::kDirectory,
     "066_161_3",
     1,
     "Write failed: Is a directory\ntrn_levels: Can't open 066_161_3\n"},
    {"tintshade: level files in a read-only directory",
     TINTSHADE_PATH,
     Box("1"),
     {},
     Plant::kReadOnly,
     "",
     1,
     "Write failed: Permission denied\ntrn_levels: Can't open 066_161_0\n",
     true},
    {"tileprint: picture a directory",
     TILEPRINT_PATH,
     Box("p.bmp"),
     {},
     Plant::kDirectory,
     "p.bmp",
     255,
     "trn_rasterfile: Is a directory\ntrn_rasterfile: Can't open p.bmp\n"
     "tileprint: errors encountered while Processing Bitmap\n"},
    {"tileprint: picture in a missing directory",
     TILEPRINT_PATH,
     Box("nodir/p.bmp"),
     {},
     Plant::kNothing,
     "",
     255,
     "trn_rasterfile: No such file or directory\ntrn_rasterfile: Can't open nodir/p.bmp\n"
     "tileprint: errors encountered while Processing Bitmap\n"},
    {"tileprint: read-only directory",
     TILEPRINT_PATH,
     Box("p.bmp"),
     {},
     Plant::kReadOnly,
     "",
     255,
     "trn_rasterfile: Permission denied\ntrn_rasterfile: Can't open p.bmp\n"
     "tileprint: errors encountered while Processing Bitmap\n"},
};

// Shell words that run a command as a user who is not root: uid and gid 65534 for root, none
// for a user who is not root already; nothing when root cannot become that user.
std::optional<std::string> AsUserNotRoot() {
  if (::geteuid() != 0) return "";
  const std::string words = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  if (RunCommand(words + "true").status != 0) return std::nullopt;
  return words;
}

class FileFailuresTest : public TerrainInputsTest {
 protected:
  // Runs the case in a directory "run" of its own, as the user `as` (shell words before the
  // program).
  void Expect(const Case& c, const std::string& as) {
    SCOPED_TRACE(c.what);
    fs::create_directory("run");
    for (const std::string& input : c.inputs) fs::copy_file(input, "run/" + input);
    if (c.plant == Plant::kDirectory) fs::create_directory("run/" + std::string(c.name));
    if (c.tiles_first) {
      ASSERT_EQ(RunProgram("cd run && " TINTSHADE_PATH, Box("0")).status, 0);
      for (const std::string& name : FilesIn("run")) ::chmod(("run/" + name).c_str(), 0666);
    }
    if (c.plant == Plant::kReadOnly) {
      ::chmod(".", 0755);
      ::chmod("run", 0555);
    }
    std::set<std::string> before = FilesIn("run");
    const ProgramRun run = RunProgram("cd run && " + as + c.program, c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    // The tail starts a line of its own, or is a line of its own that begins with a line feed.
    const std::string tail = c.tail[0] == '\n' ? c.tail : "\n" + std::string(c.tail);
    EXPECT_TRUE(("\n" + run.err).ends_with(tail)) << run.err;
    // Nothing made: in gridforge's case no temporary is left behind either.
    std::set<std::string> after = FilesIn("run");
    after.erase("TempData.tmp");  // the directory planted
    before.erase("TempData.tmp");
    if (c.program != std::string(TINTSHADE_PATH) || c.plant == Plant::kReadOnly) {
      EXPECT_EQ(after, before);
    }
    ::chmod("run", 0755);
    fs::remove_all("run");
  }
};

TEST_F(FileFailuresTest, DirectoriesAndMissingDirectories) {
  for (const Case& c : kCases)
    if (c.plant != Plant::kReadOnly) Expect(c, "");
}

TEST_F(FileFailuresTest, DirectoriesTheUserCannotWriteTo) {
  const std::optional<std::string> as = AsUserNotRoot();
  if (!as) GTEST_SKIP() << "root cannot run a program as uid 65534 here (setpriv failed)";
  for (const Case& c : kCases)
    if (c.plant == Plant::kReadOnly) Expect(c, *as);
}

}  // namespace
