// Network namespaces for one test, with veth links, bridges and address
// translation between them, all deleted again when the lab goes. Names carry
// the process id and a counter, so parallel runs never meet. Needs root.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace integration {

// How a translator picks the outside port: it keeps the host's port where it
// can, or draws a new one for every destination (symmetric), which defeats
// hole punching.
enum class Mapping { kPortPreserving, kSymmetric };

class NetworkLab {
public:
    NetworkLab();
    ~NetworkLab();  // ends every process inside the namespaces, then deletes them
    NetworkLab(const NetworkLab&) = delete;
    NetworkLab& operator=(const NetworkLab&) = delete;

    // Empty when namespaces with address translation can be made here, else why not.
    static std::string WhyUnavailable();

    // A namespace with its loopback up; returns its full name.
    std::string AddNamespace(const std::string& role);
    // A veth pair: `firstName` in `first`, `secondName` in `second`, both up.
    void Link(const std::string& first, const std::string& firstName, const std::string& second,
              const std::string& secondName);
    void AddBridge(const std::string& ns, const std::string& bridge);
    void AttachToBridge(const std::string& ns, const std::string& device, const std::string& bridge);
    void AddAddress(const std::string& ns, const std::string& device, const std::string& addressWithPrefix);
    void AddDefaultRoute(const std::string& ns, const std::string& gateway);
    // Forwarding with masquerading out of `publicDevice`. Like a home router
    // it drops datagrams from outside addressed to itself: without that, a
    // peer's early greeting leaves a tracking entry on the translator that
    // makes its later mapping towards that peer take another port.
    void Translate(const std::string& ns, const std::string& publicDevice, Mapping mapping = Mapping::kPortPreserving);
    // Forwarded UDP leaves `publicDevice` only towards `address`, as behind a
    // firewall that lets players reach one server.
    void AllowUdpOnlyTo(const std::string& ns, const std::string& publicDevice, const std::string& address);
    // No forwarded UDP leaves `publicDevice`, as behind a firewall that lets TCP out alone.
    void BlockUdp(const std::string& ns, const std::string& publicDevice);
    // Every UDP datagram sent in `ns` is dropped with `percent` % chance.
    void DropUdpAtRandom(const std::string& ns, int percent);

    // Every step so far succeeded.
    bool Ok() const { return failed_.empty(); }
    const std::string& FailedCommand() const { return failed_; }

private:
    void Run(const std::string& command);
    // Forwarded UDP out of `publicDevice` dropped when `condition` (nft words) holds.
    void DropForwardedUdp(const std::string& ns, const std::string& publicDevice, const std::string& condition);

    std::string prefix_;
    std::vector<std::string> namespaces_;
    std::string failed_;
};

// A program run inside a namespace, its output going to a file; ended when
// this object goes.
class NamespaceProcess {
public:
    NamespaceProcess(const std::string& ns, const std::vector<std::string>& arguments, const std::string& outputPath);
    ~NamespaceProcess();
    NamespaceProcess(const NamespaceProcess&) = delete;
    NamespaceProcess& operator=(const NamespaceProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    // Ends it at once, as a crash would (SIGKILL).
    void Kill();
    // The exit status, or nothing when it did not end in time (it is then killed).
    std::optional<int> Wait(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
};

std::string ReadFile(const std::string& path);

}  // namespace integration
