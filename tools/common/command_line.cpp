#include "tools/common/command_line.h"

#include <getopt.h>

#include <cstdio>

namespace tools {
namespace {
// getopt_long reports a long option by its code and an unknown short one by
// its character: every code lies above the characters.
enum : int { kHelpCode = 256, kVersionCode, kFirstOptionCode };

// Command-line text as it may be shown on a terminal: control characters
// become \xNN, so that what was typed cannot move the cursor or set colours.
std::string Printable(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            shown += c;
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
        shown += escaped;
    }
    return shown;
}

// The long option with this getopt code, or nullptr.
const option* OptionWithCode(const std::vector<option>& table, int code) {
    for (const option& entry : table)
        if (entry.name && entry.val == code) return &entry;
    return nullptr;
}

// Why getopt_long refused the long option `argument` ("--name" or "--name=value"):
// it names no option, or more than one by its first letters.
std::string WhyUnknown(const std::vector<option>& table, const std::string& argument) {
    const std::string typed = argument.substr(2, argument.find('=') - 2);
    std::string candidates;
    int matches = 0;
    for (const option& entry : table) {
        if (!entry.name || std::string(entry.name).compare(0, typed.size(), typed) != 0) continue;
        candidates += std::string(matches++ ? ", --" : "--") + entry.name;
    }
    if (matches > 1) return "option --" + typed + " is ambiguous (" + candidates + ")";
    return "unknown option --" + typed;
}

// The reason for getopt_long's '?': an unknown or ambiguous option, or a
// value given to an option that takes none.
std::string WhyRefused(const std::vector<option>& table, const char* argument) {
    if (const option* entry = OptionWithCode(table, optopt))
        return std::string("option --") + entry->name + " takes no value";
    if (optopt != 0) return std::string("unknown option -") + static_cast<char>(optopt);
    return WhyUnknown(table, argument);
}
}  // namespace

int CommandLineError(const char* program, const std::string& reason) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program, Printable(reason).c_str(),
                 program);
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
            return CommandLineError(line.program,
                                    std::string("option --") + OptionWithCode(table, optopt)->name + " needs a value");
        if (code == '?') return CommandLineError(line.program, WhyRefused(table, argv[optind - 1]));
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
