// coturn as a child process on loopback, for a room in one process whose
// players relay: a free port, a user and password of this run only, peers
// on loopback allowed (every player is on 127.0.0.1), its configuration and
// files in a directory of its own; stopped and cleaned up when this object goes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

namespace room {

class RelayServerProcess {
public:
    // The installed server, or empty when coturn is not installed.
    static std::string FindProgram();
    // Starts `program` and waits until it answers a Binding request.
    static std::unique_ptr<RelayServerProcess> Start(const std::string& program, std::string* error);
    ~RelayServerProcess();
    RelayServerProcess(const RelayServerProcess&) = delete;
    RelayServerProcess& operator=(const RelayServerProcess&) = delete;

    uint16_t Port() const { return port_; }
    const std::string& User() const { return user_; }
    const std::string& Password() const { return password_; }

private:
    RelayServerProcess(pid_t pid, std::string directory, uint16_t port, std::string password)
        : pid_(pid), directory_(std::move(directory)), port_(port), password_(std::move(password)) {}

    pid_t pid_;
    std::string directory_;
    uint16_t port_;
    std::string user_ = "room";
    std::string password_;
};

}  // namespace room
