// A tool run as a child process, with its standard output read as it comes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tools_test {

struct Finished {
    int status = -1;  // exit status, or -1 when it did not exit normally in time
    std::string out;
    std::string err;
};

class ToolProcess {
public:
    explicit ToolProcess(const std::vector<std::string>& argv);
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // -1 once it was waited for: never a pid to signal.
    pid_t Pid() const { return pid_; }
    // Reads standard output until it holds `text` or timeoutMs passes.
    bool WaitForOutput(const std::string& text, int timeoutMs);
    // Waits up to timeoutMs for the exit (the destructor stops it after that).
    Finished Wait(int timeoutMs);

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outText_;
    std::string errText_;
};

// Runs a tool to its end (at most 10 s).
Finished RunTool(const std::vector<std::string>& argv);

}  // namespace tools_test
