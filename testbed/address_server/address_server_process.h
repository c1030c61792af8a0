// The public-address server as a child process (tavolin-addrd) on loopback,
// stopped when this object goes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

namespace room {

class AddressServerProcess {
public:
    // Starts `program` on 127.0.0.1 at a port the system picks and waits until it listens.
    static std::unique_ptr<AddressServerProcess> Start(const std::string& program, std::string* error);
    ~AddressServerProcess();
    AddressServerProcess(const AddressServerProcess&) = delete;
    AddressServerProcess& operator=(const AddressServerProcess&) = delete;

    uint16_t Port() const { return port_; }

private:
    AddressServerProcess(pid_t pid, int output, uint16_t port) : pid_(pid), output_(output), port_(port) {}

    pid_t pid_;
    int output_;  // the child's standard output, kept open so it never writes into a closed pipe
    uint16_t port_;
};

}  // namespace room
