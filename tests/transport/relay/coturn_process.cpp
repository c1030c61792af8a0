#include "tests/transport/relay/coturn_process.h"

#include "tests/support/udp_peer.h"
#include "transport/relay/binding_probe.h"
#include "transport/rtp/rtp_random.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <vector>

namespace relay_testing {

std::optional<std::string> CoturnProcess::Find() {
    for (const char* path : {"/usr/bin/turnserver", "/usr/sbin/turnserver"}) {
        if (access(path, X_OK) == 0) return path;
    }
    return std::nullopt;
}

bool CoturnProcess::Start(const std::vector<std::string>& extra) {
    const std::optional<std::string> turnserver = Find();
    if (!turnserver) return false;
    char directory[] = "/tmp/tavolin-coturn-XXXXXX";
    if (!mkdtemp(directory)) return false;
    directory_ = directory;
    address_ = rtp::RTPIPv4Address(testing_support::kLoopback, testing_support::UdpPeer().Port());  // free a moment ago
    std::vector<std::string> argv = {*turnserver,
                                     "-n",
                                     "--listening-ip=127.0.0.1",
                                     "--relay-ip=127.0.0.1",
                                     "--listening-port=" + std::to_string(address_.GetPort()),
                                     "--lt-cred-mech",
                                     std::string("--user=") + kUser + ":" + kPassword,
                                     "--realm=tavolin.test",
                                     "--no-tls",
                                     "--no-dtls",
                                     "--no-cli",
                                     "--allow-loopback-peers",
                                     "--no-stdout-log",
                                     "--simple-log",
                                     "--log-file=" + directory_ + "/turn.log",
                                     "--pidfile=" + directory_ + "/turn.pid",
                                     "--db=" + directory_ + "/turndb"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    server_.emplace(argv);
    return server_->Pid() > 0;
}

namespace {
int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct ProbeSocket : relay::RelayPort {
    testing_support::UdpPeer socket;
    bool SendToServer(const rtp::RTPIPv4Address& server, std::span<const relay::Piece> pieces) override {
        std::vector<uint8_t> datagram;
        for (const relay::Piece piece : pieces) datagram.insert(datagram.end(), piece.begin(), piece.end());
        return socket.SendTo(server.GetIP(), server.GetPort(), datagram.data(), datagram.size());
    }
    void OnRelayEvent(const relay::RelayEvent&) override {}
};
}  // namespace

// A new probe whenever the last one gave up; each receive waits 5 ms, which
// bounds the requests sent.
bool CoturnProcess::AwaitAnswer(int timeoutMs) const {
    ProbeSocket port;
    std::optional<relay::BindingProbe> probe;
    const int64_t deadline = NowMs() + timeoutMs;
    while ((!probe || !probe->Mapped()) && NowMs() < deadline) {
        if (!probe || probe->Finished()) {
            probe.emplace(port, rtp::RTPSystemRandom::Instance(), address_, false);
            probe->Start(NowMs());
        }
        if (auto datagram = port.socket.Receive(5)) probe->OnServerDatagram(datagram->bytes);
        probe->OnTimer(NowMs());
    }
    return probe && probe->Mapped();
}

void CoturnProcess::Stop() {
    if (!server_ || server_->Pid() <= 0) return;
    kill(server_->Pid(), SIGTERM);
    server_->Wait(2000);
    server_.reset();
}

CoturnProcess::~CoturnProcess() {
    Stop();
    if (!directory_.empty()) std::filesystem::remove_all(directory_);
}

}  // namespace relay_testing
