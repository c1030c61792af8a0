// A plain UDP socket on 127.0.0.1 that plays a remote player or server in
// tests: it receives what the engine sends and can send datagrams back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct Datagram {
    std::vector<uint8_t> bytes;
    uint32_t fromAddress = 0;  // host order
    uint16_t fromPort = 0;
};

class UdpPeer {
public:
    UdpPeer();  // binds 127.0.0.1 on a free port
    // Binds `address` (host order, in 127.0.0.0/8) on `port`, 0 for a free one.
    UdpPeer(uint32_t address, uint16_t port);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    uint16_t Port() const { return port_; }
    // Waits up to timeoutMs for one datagram.
    std::optional<Datagram> Receive(int timeoutMs);
    // Everything that arrives within timeoutMs (bounded by maxCount).
    std::vector<Datagram> ReceiveAll(int timeoutMs, size_t maxCount = 4096);
    // What has arrived already, without waiting: for counting replies of a
    // sender that has stopped, however slowly this process reads them.
    std::vector<Datagram> ReceiveQueued(size_t maxCount = 4096);
    bool SendTo(uint32_t address, uint16_t port, const void* data, size_t length);

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

constexpr uint32_t kLoopback = 0x7F000001;

// Fields of an RTP packet, for assertions on what went out.
struct RtpView {
    uint8_t payloadType = 0;
    bool marker = false;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    std::vector<uint8_t> payload;
};
std::optional<RtpView> ParseRtp(const std::vector<uint8_t>& bytes);

}  // namespace testing_support
