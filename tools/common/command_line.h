// The command line of every Tavolin tool, read the same way: long options
// through getopt_long, --help on standard output (exit 0), --version, and a
// bad option or value named on standard error with exit 2.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tools {

constexpr int kExitUsage = 2;

struct ToolOption {
    const char* name;       // long name, without the dashes
    const char* valueName;  // as the usage shows it; nullptr for a switch without value
    // Takes the option's value (nullptr for a switch); returns why the value
    // is unusable, or an empty text when it is taken.
    std::function<std::string(const char* value)> take;
};

struct ToolCommandLine {
    const char* program;  // the tool's installed name, e.g. "tavolin-addrd"
    std::string help;     // the whole --help text
    std::vector<ToolOption> options;
};

// Reads argv. Returns the exit status when the tool is to stop now (after
// --help, --version or a bad command line), nothing when it is to run.
std::optional<int> ReadCommandLine(const ToolCommandLine& line, int argc, char** argv);

// For checks made after reading: prints "PROGRAM: REASON" and how to get
// help on standard error, and returns the usage exit status.
int CommandLineError(const char* program, const std::string& reason);

// "1.0.0": the version the tools were built with.
const char* ToolsVersion();

}  // namespace tools
