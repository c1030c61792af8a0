// coturn on a free loopback port with a configuration of the test's own
// (static user "player:secret", no TLS, no CLI, loopback peers allowed here
// only), in a directory of its own; stopped and cleaned up with the object.
#pragma once

#include "tests/tools/command_line/tool_process.h"
#include "transport/rtp/rtp_ipv4_address.h"

#include <optional>
#include <string>
#include <vector>

namespace relay_testing {

constexpr char kUser[] = "player";
constexpr char kPassword[] = "secret";

class CoturnProcess {
public:
    CoturnProcess() = default;
    ~CoturnProcess();
    CoturnProcess(const CoturnProcess&) = delete;
    CoturnProcess& operator=(const CoturnProcess&) = delete;

    // The installed server, if any.
    static std::optional<std::string> Find();
    // False when coturn could not be started; `extra` arguments are appended.
    bool Start(const std::vector<std::string>& extra = {});
    const rtp::RTPIPv4Address& Address() const { return address_; }
    // Ends the server (SIGTERM), as the destructor does.
    void Stop();
    // Waits until the server answers a Binding request: it is up.
    bool AwaitAnswer(int timeoutMs) const;

private:
    std::string directory_;
    rtp::RTPIPv4Address address_;
    std::optional<tools_test::ToolProcess> server_;
};

}  // namespace relay_testing
