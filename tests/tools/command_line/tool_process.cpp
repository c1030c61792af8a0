#include "tests/tools/command_line/tool_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

extern char** environ;

namespace tools_test {
namespace {
// Appends what is readable now without blocking; false at end of file.
bool Drain(int fd, std::string* text) {
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got > 0) {
            text->append(chunk, static_cast<size_t>(got));
            continue;
        }
        return got < 0;  // EAGAIN: more may come
    }
}
}  // namespace

ToolProcess::ToolProcess(const std::vector<std::string>& argv) {
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
    fcntl(err_, F_SETFL, O_NONBLOCK);
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0) {
        // Asked to stop first, a tool stops the servers it started (killed,
        // they would outlive it and weigh on later tests); killed only when
        // it does not.
        constexpr int kStopGraceMs = 5000, kPollMs = 10;
        kill(pid_, SIGTERM);
        int waited = 0;
        while (waitpid(pid_, nullptr, WNOHANG) == 0 && waited < kStopGraceMs) {
            usleep(kPollMs * 1000);
            waited += kPollMs;
        }
        if (waited >= kStopGraceMs) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
}

bool ToolProcess::WaitForOutput(const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (outText_.find(text) == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (left.count() <= 0 || poll(fds, 2, static_cast<int>(left.count())) < 0) return false;
        const bool outOpen = Drain(out_, &outText_);
        Drain(err_, &errText_);
        if (!outOpen && outText_.find(text) == std::string::npos) return false;
    }
    return true;
}

Finished ToolProcess::Wait(int timeoutMs) {
    Finished finished;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (pid_ > 0) {
        Drain(out_, &outText_);
        Drain(err_, &errText_);
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            if (WIFEXITED(status)) finished.status = WEXITSTATUS(status);
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) break;  // the destructor kills it
        usleep(10000);
    }
    Drain(out_, &outText_);
    Drain(err_, &errText_);
    finished.out = outText_;
    finished.err = errText_;
    return finished;
}

Finished RunTool(const std::vector<std::string>& argv) { return ToolProcess(argv).Wait(10000); }

}  // namespace tools_test
