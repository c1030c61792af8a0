// A private sound server for tests and the room demo: a user-mode PulseAudio
// daemon of our own in a fresh directory, with virtual devices loaded into it
// and every sound client of this process pointed at it. Not part of the
// component.
#pragma once

#include <string>
#include <vector>

namespace voice {

// A program running beside us until Stop (or destruction) ends it.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // False when it cannot be started; stdout and stderr go to `logPath`
    // (appended) when given, else nowhere.
    bool Start(const std::vector<std::string>& arguments, const std::string& logPath = "");
    // SIGTERM, then SIGKILL if it has not ended within a second.
    void Stop();
    // False once it has ended (it is then reaped).
    bool Running();

private:
    int pid_ = -1;
};

// Runs a program to its end; its exit status (-1 when it did not run) and,
// with `out`, what it printed.
int RunProgram(const std::vector<std::string>& arguments, std::string* out = nullptr);

class SoundServer {
public:
    SoundServer();
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // Starts the daemon (again after Stop, on the same socket) and waits
    // until it answers; false, with the reason in *why, when it cannot.
    // Points this process and its children at it (PULSE_SERVER and a client
    // configuration without autospawn): call before sound clients start.
    bool Start(std::string* why);
    // Ends the daemon and waits for it; its devices go with it.
    void Stop();

    // pactl with these arguments against this server; what it printed in *out.
    bool Control(const std::vector<std::string>& arguments, std::string* out = nullptr) const;
    // Loads a module; its index, or -1.
    int LoadModule(const std::string& module, const std::vector<std::string>& arguments) const;
    bool UnloadModule(int index) const;

    const std::string& Directory() const { return directory_; }

private:
    std::string directory_;
    std::string socket_;
    ChildProcess daemon_;
};

}  // namespace voice
