#include "tools/common/command_line.h"

#include <getopt.h>

#include <cstdio>

namespace tools {
namespace {
// getopt_long reports an option by its index in the table plus this offset,
// which keeps clear of the characters it uses for errors ('?' and ':').
constexpr int kFirstOptionCode = 256;
enum : int { kHelpCode = 1, kVersionCode = 2 };
}  // namespace

int CommandLineError(const char* program, const std::string& reason) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program, reason.c_str(), program);
    return kExitUsage;
}

const char* ToolsVersion() { return TAVOLIN_VERSION_TEXT; }

std::optional<int> ReadCommandLine(const ToolCommandLine& line, int argc, char** argv) {
    std::vector<option> table;
    for (size_t i = 0; i < line.options.size(); ++i) {
        const ToolOption& tool = line.options[i];
        table.push_back({tool.name, tool.valueName ? required_argument : no_argument, nullptr,
                         kFirstOptionCode + static_cast<int>(i)});
    }
    table.push_back({"help", no_argument, nullptr, kHelpCode});
    table.push_back({"version", no_argument, nullptr, kVersionCode});
    table.push_back({nullptr, 0, nullptr, 0});

    // getopt keeps its position in globals: start afresh, and say the errors ourselves.
    optind = 0;
    opterr = 0;
    // Leading ':' tells a missing value apart from an unknown option.
    int code = 0;
    while ((code = getopt_long(argc, argv, ":h", table.data(), nullptr)) != -1) {
        if (code == kHelpCode || code == 'h') {
            std::fputs(line.help.c_str(), stdout);
            return 0;
        }
        if (code == kVersionCode) {
            std::printf("%s %s\n", line.program, ToolsVersion());
            return 0;
        }
        if (code == ':')
            return CommandLineError(line.program, std::string("option ") + argv[optind - 1] + " needs a value");
        if (code == '?') {
            const std::string name = optopt ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1];
            return CommandLineError(line.program, "unknown option " + name);
        }
        const ToolOption& tool = line.options[static_cast<size_t>(code - kFirstOptionCode)];
        const std::string problem = tool.take(optarg);
        if (!problem.empty())
            return CommandLineError(line.program, "--" + std::string(tool.name) +
                                                      (optarg ? " " + std::string(optarg) : "") + ": " + problem);
    }
    if (optind < argc) return CommandLineError(line.program, std::string("unexpected argument ") + argv[optind]);
    return std::nullopt;
}

}  // namespace tools
