// sfunhost: runs an S-function block library from the command line (usage in README.md).
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "sfunhost.h"
#include "support/InputLines.h"
#include "support/PrintableText.h"
#include "support/ValueList.h"

namespace {

using kyte::mexhost::ArrayPtr;

constexpr const char kUsage[] =
    "usage: sfunhost LIBRARY [options]\n"
    "  -p, --param LITERAL     next block parameter, a MATLAB literal: 3, [3 25 4 16], 'run'\n"
    "  -n, --name NAME         S-function name to run the block under (default: the library's\n"
    "                          file name without extension)\n"
    "  -u, --input LIST        constant input: all input elements in port order, or one value\n"
    "                          for every element (a MATLAB literal or a LIST)\n"
    "  -f, --input-file FILE   one LIST of all input elements a line for each major step\n"
    "                          (blank lines are skipped)\n"
    "  -s, --steps N           number of major steps (default 1)\n"
    "  -d, --step-size H       seconds between major steps (default 0.01)\n"
    "  -m, --minor M           minor steps after each major step (default 0)\n"
    "      --help              this text\n"
    "A LIST holds numbers as MATLAB writes them (3, -2.5e3, Inf, NaN) separated by commas or\n"
    "blanks, with brackets around them or without: 1,2,3 or [1 2 3].\n";

int Usage(const std::string& why) {
  std::cerr << "sfunhost: " << PrintableText(why) << "\n" << kUsage;
  return 2;
}

std::string Number(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// A LIST's values, read as a MATLAB row literal.
bool ParseRow(std::string_view line, std::vector<double>* row) {
  const auto values = SplitValueList(line);
  if (!values) return false;
  std::string literal = "[";
  for (const std::string& value : *values) literal += value + " ";
  std::string error;
  ArrayPtr a = kyte::mexhost::Parse(literal + "]", &error);
  if (!a) return false;
  *row = kyte::mexhost::Values(a.get());
  return true;
}

bool ToInt(const std::string& s, int* v) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), *v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && *v >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string library;
  std::string name;
  std::vector<ArrayPtr> params;
  ArrayPtr constant;
  std::string inputFile;
  kyte::sfunhost::RunOptions options;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "-p" || arg == "--param" || arg == "-u" || arg == "--input") {
      if (!value(&v)) return Usage(arg + " needs a value");
      std::string error;
      ArrayPtr a = kyte::mexhost::Parse(v, &error);
      const bool param = arg == "-p" || arg == "--param";
      std::vector<double> list;
      if (!a && !param && ParseRow(v, &list)) a = kyte::mexhost::Row(list);
      if (!a) return Usage(error);
      if (param)
        params.push_back(std::move(a));
      else
        constant = std::move(a);
    } else if (arg == "-n" || arg == "--name") {
      if (!value(&name)) return Usage(arg + " needs a value");
    } else if (arg == "-f" || arg == "--input-file") {
      if (!value(&inputFile)) return Usage(arg + " needs a value");
    } else if (arg == "-s" || arg == "--steps") {
      if (!value(&v)) return Usage(arg + " needs a value");
      if (!ToInt(v, &options.steps)) return Usage("bad number of steps: " + QuotedText(v));
    } else if (arg == "-m" || arg == "--minor") {
      if (!value(&v)) return Usage(arg + " needs a value");
      if (!ToInt(v, &options.minorSteps))
        return Usage("bad number of minor steps: " + QuotedText(v));
    } else if (arg == "-d" || arg == "--step-size") {
      char* end = nullptr;
      if (!value(&v)) return Usage(arg + " needs a value");
      options.stepSize = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end != '\0' || !(options.stepSize > 0))
        return Usage("bad step size: " + QuotedText(v));
    } else if (!arg.empty() && arg[0] != '-' && library.empty()) {
      library = arg;
    } else {
      return Usage("unknown argument: " + QuotedText(arg));
    }
  }
  if (library.empty()) return Usage("no block library given");
  if (constant && !inputFile.empty()) return Usage("give either --input or --input-file");
  if (library.find('/') == std::string::npos) library = "./" + library;

  // The rows the steps use, each with the line of the input file it comes from; every line
  // is read and must be a row, but only those rows are kept.
  const std::string fileName = PrintableText(inputFile);
  std::vector<std::vector<double>> rows;
  std::vector<long> lines;
  if (!inputFile.empty()) {
    std::size_t count = 0;
    const std::string refused = ReadInputLines(inputFile, [&](long number, std::string_view line) {
      std::vector<double> row;
      if (!ParseRow(line, &row))
        return "not a row of numbers in line " + std::to_string(number) + " of " + fileName + ": " +
               QuotedText(line);
      if (++count <= static_cast<std::size_t>(options.steps)) {
        rows.push_back(std::move(row));
        lines.push_back(number);
      }
      return std::string();
    });
    if (!refused.empty()) return Usage(refused);
    if (count < static_cast<std::size_t>(options.steps))
      return Usage(fileName + " holds " + std::to_string(count) + " rows for " +
                   std::to_string(options.steps) + " steps");
  }
  const std::vector<double> constantValues =
      constant ? kyte::mexhost::Values(constant.get()) : std::vector<double>{};

  kyte::sfunhost::Model model;
  model.Add(library, std::move(params), name);

  // The inputs the run uses must fit the block's input elements: checked before it starts.
  std::size_t total = 0;
  if (model.Initialize()) {
    const SimStruct* S = model.block(0).simstruct();
    for (int p = 0; p < ssGetNumInputPorts(S); ++p)
      total += static_cast<std::size_t>(ssGetInputPortWidth(S, p));
    auto refuse = [&](std::size_t given, const std::string& origin) {
      std::cerr << "sfunhost: " << given << " input values for " << total << " input elements"
                << origin << "\n";
      return 2;
    };
    if (constant && constantValues.size() != total && constantValues.size() != 1)
      return refuse(constantValues.size(), "");
    for (std::size_t k = 0; k < static_cast<std::size_t>(options.steps) && k < rows.size(); ++k) {
      if (rows[k].size() != total)
        return refuse(rows[k].size(), " in line " + std::to_string(lines[k]) + " of " + fileName);
    }
  }

  auto setInputs = [&](const kyte::sfunhost::StepInfo& info, kyte::sfunhost::Block& b) {
    if (!constant && rows.empty()) return;
    const std::vector<double>& given = constant ? constantValues : rows[info.step];
    std::size_t next = 0;
    for (int p = 0; p < ssGetNumInputPorts(b.simstruct()); ++p) {
      std::vector<double> values(static_cast<std::size_t>(ssGetInputPortWidth(b.simstruct(), p)));
      for (double& x : values) x = given.size() == 1 ? given[0] : given[next++];
      b.SetInput(p, values);
    }
  };
  int outputError = 0;  // the reason the first line of output could not be written
  auto observe = [&](const kyte::sfunhost::StepInfo& info, kyte::sfunhost::Block& b) {
    std::string line = std::to_string(info.step) + (info.major ? " major" : " minor") +
                       " t=" + Number(info.t) + ":";
    for (int p = 0; p < ssGetNumOutputPorts(b.simstruct()); ++p) {
      if (p > 0) line += " |";
      for (double y : b.Output(p)) line += " " + Number(y);
    }
    std::cout << line << "\n";
    if (!std::cout && outputError == 0) outputError = errno != 0 ? errno : EIO;
  };

  const bool ok = model.Run(options, setInputs, observe);
  const kyte::sfunhost::Block& block = model.block(0);
  const bool passed = ok && !block.failed();
  if (passed)
    std::cout << "status: ok\n";
  else
    std::cout << "status: error: " << block.error() << "\n";
  // Lines that could not be written fail the run, the status line's too.
  if (!std::cout.flush() && outputError == 0) outputError = errno != 0 ? errno : EIO;
  if (outputError != 0) {
    std::cerr << "sfunhost: cannot write standard output: " << std::strerror(outputError) << "\n";
    return 1;
  }
  return passed ? 0 : 1;
}
