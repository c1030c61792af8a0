#include "testkit/sound_server/sound_server.h"

#include "testkit/process/child_process.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace voice {

namespace {

using namespace std::chrono_literals;

constexpr auto kStartLimit = 10s;  // a loaded machine needs a few seconds
constexpr int kStopLimitMs = 1000;
constexpr auto kPollInterval = 20ms;

bool Answers(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& arguments, const std::string& logPath) {
    Stop();
    const int output = logPath.empty() ? -1 : open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    std::string ignored;
    pid_ = testkit::SpawnChild(arguments, output, testkit::ChildErrors::kWithOutput, &ignored);
    if (output >= 0) close(output);
    return pid_ > 0;
}

bool ChildProcess::Running() {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
}

void ChildProcess::Stop() {
    if (pid_ <= 0) return;
    testkit::StopChild(pid_, kStopLimitMs);
    pid_ = -1;
}

int RunProgram(const std::vector<std::string>& arguments, std::string* out) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
    std::string ignored;
    const pid_t pid = testkit::SpawnChild(arguments, pipeEnds[1], testkit::ChildErrors::kWithOutput, &ignored);
    close(pipeEnds[1]);
    std::string said;
    char chunk[4096];
    for (ssize_t got; (got = read(pipeEnds[0], chunk, sizeof chunk)) > 0;) said.append(chunk, static_cast<size_t>(got));
    close(pipeEnds[0]);
    if (out) *out = said;
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

SoundServer::SoundServer() {
    char pattern[] = "/tmp/tavolin-sound-XXXXXX";
    if (mkdtemp(pattern)) directory_ = pattern;
    socket_ = directory_ + "/native";
}

SoundServer::~SoundServer() {
    Stop();
    std::error_code ignored;
    if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
}

bool SoundServer::Start(std::string* why) {
    if (directory_.empty()) {
        *why = "no directory for the sound server";
        return false;
    }
    const std::string clientConfig = directory_ + "/client.conf";
    std::ofstream(clientConfig) << "autospawn = no\n";
    // The daemon keeps its state under HOME and XDG_RUNTIME_DIR: ours alone.
    setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
    setenv("PULSE_CLIENTCONFIG", clientConfig.c_str(), 1);
    const std::string home = "HOME=" + directory_, runtime = "XDG_RUNTIME_DIR=" + directory_;
    const bool started = daemon_.Start({"env", home, runtime, "pulseaudio", "-n", "--daemonize=no",
                                        "--exit-idle-time=-1", "--disallow-exit", "--use-pid-file=no",
                                        "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket_},
                                       directory_ + "/daemon.log");
    if (!started) {
        *why = "cannot run pulseaudio";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (!Answers(socket_)) {
        if (!daemon_.Running() || std::chrono::steady_clock::now() >= deadline) {
            std::ifstream log(directory_ + "/daemon.log");
            std::string last, line;
            while (std::getline(log, line)) last = line;
            *why = "pulseaudio did not start: " + (last.empty() ? "no answer within 10 s" : last);
            daemon_.Stop();
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

void SoundServer::Stop() { daemon_.Stop(); }

bool SoundServer::Control(const std::vector<std::string>& arguments, std::string* out) const {
    std::vector<std::string> command{"pactl", "--server=unix:" + socket_};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunProgram(command, out) == 0;
}

int SoundServer::LoadModule(const std::string& module, const std::vector<std::string>& arguments) const {
    std::vector<std::string> command{"load-module", module};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::string index;
    if (!Control(command, &index)) return -1;
    return std::atoi(index.c_str());
}

bool SoundServer::UnloadModule(int index) const { return Control({"unload-module", std::to_string(index)}); }

}  // namespace voice
