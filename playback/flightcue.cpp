// flightcue: writes, once at the start of the simulation, the playback configuration file that
// declares the recorded vehicles' data files and their 33 columns.
#define S_FUNCTION_NAME flightcue
#define S_FUNCTION_LEVEL 2
#include "simstruc.h"
// What the block uses besides.
#include <ostream>
#include <string>

#include "BlockSupport.h"
#include "DataFileName.h"
#include "TextFileStream.h"

namespace {

enum { kConfigName = 0, kBaseName = 1, kNumVehicles = 2, kNumParams = 3 };

// The three playback blocks: the network, the charts and the simulator's playback.
constexpr const char* kBlockLines[] = {
    "[Block 1]",
    "Block Label=Network Block",
    "",
    "[Block 2]",
    "Block Label=Display Charts",
    "Gallery:1=9109505",
    "Line Width:1=2",
    "Line Style:1=38469632",
    "Marker Shape:1=9109504",
    "Marker Size:1=3",
    "Marker Step:1=1",
    "Grid:1=9109505",
    "Title:1=(Right-Click in Chart Area for Menu)",
    "Chart3D:1=0",
    "Legend Visible:1=-1",
    "Legend Docked:1=256",
    "Y Axis Autoscale:1=0",
    "Y Axis Maximum:1=800",
    "Y Axis Minimum:1=-150",
    "Chart Refresh Rate=5",
    "X Increment=5",
    "Number of Charts=1",
    "",
    "[Block 3]",
    "Block Label=KYTE Playback Block",
};

// The columns of a data file, in the order flightlog writes them.
constexpr const char* kColumnLines[] = {
    ":Dyn:time=1:1",      ":Dyn:x=1:2",      ":Dyn:y=1:3",       ":Dyn:z=1:4",
    ":Dyn:xrot=1:5",      ":Dyn:yrot=1:6",   ":Dyn:zrot=1:7",    ":Dyn:craftmask=1:8",
    ":Dyn:crafttype=1:9", ":Dyn:eng=1:10",   ":Dyn:alpha=1:11",  ":Dyn:beta=1:12",
    ":Dyn:G=1:13",        ":Dyn:V=1:14",     ":Dyn:M=1:15",      ":Dyn:sfc01=1:16",
    ":Dyn:sfc02=1:17",    ":Dyn:sfc03=1:18", ":Dyn:sfc04=1:19",  ":Dyn:sfc05=1:20",
    ":Dyn:sfc06=1:21",    ":Dyn:sfc07=1:22", ":Dyn:sfc08=1:23",  ":Dyn:sfc09=1:24",
    ":Dyn:sfc10=1:25",    ":Dyn:sfc11=1:26", ":Dyn:sfc12=1:27",  ":Dyn:sfc13=1:28",
    ":Dyn:sfc14=1:29",    ":Dyn:sfc15=1:30", ":Dyn:select=1:31", ":Dyn:launch=1:32",
    ":Dyn:explode=1:33",
};
static_assert(std::size(kBlockLines) == 25 && std::size(kColumnLines) == 33);

constexpr kyte::sfun::ParameterCheck kParameterChecks[] = {
    {kConfigName, kyte::sfun::IsText,
     "1st parameter to the flightcue must be the Playback Configuration File Name."},
    {kBaseName, kyte::sfun::IsText,
     "2nd parameter to the flightcue must be the Base File Name for the data file."},
    {kNumVehicles, kyte::sfun::IsOneDouble,
     "3rd parameter to the flightcue must be the number of vehicles to include in the .ply.ini "
     "file"},
};

}  // namespace

#define MDL_CHECK_PARAMETERS
static void mdlCheckParameters(SimStruct* S) { kyte::sfun::CheckParameters(S, kParameterChecks); }

static void mdlInitializeSizes(SimStruct* S) {
  ssSetNumSFcnParams(S, kNumParams);
  kyte::sfun::InitializeBlockSizes(S, 1);
}

static void mdlInitializeSampleTimes(SimStruct* S) {
  kyte::sfun::InitializeContinuousSampleTime(S);
}

#define MDL_INITIALIZE_CONDITIONS
static void mdlInitializeConditions(SimStruct*) {}

#define MDL_START
static void mdlStart(SimStruct* S) {
  char szConfigName[kyte::sfun::kTextBufferSize];
  kyte::sfun::ReadText(ssGetSFcnParam(S, kConfigName), szConfigName);
  // A file that cannot be made, a line that does not reach it whole and a close that fails each
  // stop the simulation before its first step.
  playback::CTextFileStream out(szConfigName, playback::CTextFileStream::Mode::kWrite);
  auto failed = [&](const char* action) {
    kyte::sfun::SetErrorStatusText(
        S, playback::FileFailureText("flightcue", action, "configuration file", szConfigName,
                                     out.error()));
  };
  if (!out.is_open()) return failed("create");
  // Every line is flushed as it is written.
  auto line = [&](const auto&... parts) {
    (out << ... << parts) << '\n' << std::flush;
    return static_cast<bool>(out);
  };
  for (const char* text : kBlockLines) {
    if (!line(text)) return failed("write");
  }

  char szBaseName[kyte::sfun::kTextBufferSize];
  kyte::sfun::ReadText(ssGetSFcnParam(S, kBaseName), szBaseName);
  const std::int32_t iNumVehicles = kyte::sfun::ReadInteger(ssGetSFcnParam(S, kNumVehicles));
  // The counter is wider than N so that the last vehicle of the largest N ends the loop.
  for (std::int64_t i = 1; i <= iNumVehicles; ++i) {
    const std::string dataFile =
        playback::FormatDataFileName(szBaseName, static_cast<std::int32_t>(i));
    if (!line("Entity:", i, ":DataFile=", dataFile) || !line("Entity:", i, ":Time Type=Elapsed"))
      return failed("write");
    for (const char* column : kColumnLines) {
      if (!line("Entity:", i, column)) return failed("write");
    }
  }
  if (!out.close()) failed("close");
}

static void mdlOutputs(SimStruct*, int_T) {}

#define MDL_UPDATE
static void mdlUpdate(SimStruct*, int_T) {}

static void mdlTerminate(SimStruct*) {}

#include "sfun_glue.h"
