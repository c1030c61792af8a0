#include "tests/support/udp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace testing_support {
namespace {
constexpr int kReceiveBufferBytes = 4 << 20;
}

UdpPeer::UdpPeer() : UdpPeer(kLoopback, 0) {}

UdpPeer::UdpPeer(uint32_t boundAddress, uint16_t port) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("socket");
    // Bursts of a few hundred datagrams (a large frame's fragments) must not
    // overflow the default buffer before the test reads them.
    const int bufferBytes = kReceiveBufferBytes;
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bufferBytes, sizeof bufferBytes) != 0)
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(boundAddress);
    address.sin_port = htons(port);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) throw std::runtime_error("bind");
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
}

UdpPeer::~UdpPeer() { close(fd_); }

std::optional<Datagram> UdpPeer::Receive(int timeoutMs) {
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, timeoutMs) <= 0) return std::nullopt;
    Datagram datagram;
    datagram.bytes.resize(65536);
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n =
        recvfrom(fd_, datagram.bytes.data(), datagram.bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) return std::nullopt;
    datagram.bytes.resize(static_cast<size_t>(n));
    datagram.fromAddress = ntohl(from.sin_addr.s_addr);
    datagram.fromPort = ntohs(from.sin_port);
    return datagram;
}

std::vector<Datagram> UdpPeer::ReceiveAll(int timeoutMs, size_t maxCount) {
    std::vector<Datagram> all;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (all.size() < maxCount) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        auto datagram = Receive(static_cast<int>(left));
        if (!datagram) break;
        all.push_back(std::move(*datagram));
    }
    return all;
}

std::vector<Datagram> UdpPeer::ReceiveQueued(size_t maxCount) {
    std::vector<Datagram> all;
    while (all.size() < maxCount) {
        auto datagram = Receive(0);
        if (!datagram) break;
        all.push_back(std::move(*datagram));
    }
    return all;
}

bool UdpPeer::SendTo(uint32_t address, uint16_t port, const void* data, size_t length) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address);
    to.sin_port = htons(port);
    return sendto(fd_, data, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == static_cast<ssize_t>(length);
}

std::optional<RtpView> ParseRtp(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 12 || (bytes[0] >> 6) != 2) return std::nullopt;
    const size_t header = 12 + size_t(bytes[0] & 0x0F) * 4;
    if (header > bytes.size()) return std::nullopt;
    RtpView view;
    view.payloadType = bytes[1] & 0x7F;
    view.marker = bytes[1] & 0x80;
    view.sequence = static_cast<uint16_t>((bytes[2] << 8) | bytes[3]);
    view.timestamp = (uint32_t{bytes[4]} << 24) | (uint32_t{bytes[5]} << 16) | (uint32_t{bytes[6]} << 8) | bytes[7];
    view.ssrc = (uint32_t{bytes[8]} << 24) | (uint32_t{bytes[9]} << 16) | (uint32_t{bytes[10]} << 8) | bytes[11];
    view.payload.assign(bytes.begin() + static_cast<long>(header), bytes.end());
    return view;
}

}  // namespace testing_support
