#include "transport_test_support.h"

#include <tavolin/tavolin.h>

#include "transport/rtp/rtp_packet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>

namespace transport_testing {
namespace {
std::atomic<DWORD> g_ticks{1};

DWORD ManualTickSource() { return g_ticks.load(); }
}  // namespace

TransmissionMessages TestMessages(void* context) {
    return TransmissionMessages{kAudioReceived, kVideoReceived, kAudioPublicAddress, kVideoPublicAddress, context};
}

TestWindow::TestWindow() {
    log_.onMessage = [this](HWND, const platform_test::Received& message) { OnMessage(message); };
    window_ = class_.CreateWindow(&log_);
}

TestWindow::~TestWindow() { DestroyWindow(window_); }

void TestWindow::OnMessage(const platform_test::Received& message) {
    switch (message.message) {
        case kAudioReceived:
            ++audioReceivedMessages;
            if (dispatchReceived && message.lParam)
                reinterpret_cast<CTavolinTransmission*>(message.lParam)->OnAudioReceived();
            break;
        case kVideoReceived:
            ++videoReceivedMessages;
            if (dispatchReceived && message.lParam)
                reinterpret_cast<CTavolinTransmission*>(message.lParam)->OnVideoReceived();
            break;
        case kAudioPublicAddress:
        case kVideoPublicAddress: {
            auto* record = reinterpret_cast<PublicAddressRecord*>(message.wParam);
            (message.message == kAudioPublicAddress ? audioAddresses : videoAddresses).push_back(*record);
            addressContexts.push_back(message.lParam);
            delete record;
            break;
        }
        default: break;
    }
}

bool TestWindow::PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        TavolinPumpMessages(static_cast<uint32_t>(std::min<long long>(left, 20)));
    }
    return true;
}

void TestWindow::PumpFor(int ms) {
    PumpUntil([] { return false; }, ms);
}

void RecordingPacketSink::OnVideoPacket(int userId, rtp::RTPPacket* packet) {
    userIds.push_back(userId);
    videoPayloads.emplace_back(packet->GetPayloadData(), packet->GetPayloadData() + packet->GetPayloadLength());
    heldVideo.push_back(packet);
}

void RecordingPacketSink::OnAudioPacket(int userId, const uint8_t* payload, size_t length) {
    userIds.push_back(userId);
    audioPayloads.emplace_back(payload, payload + length);
}

void RecordingPacketSink::ReleaseVideo() {
    for (rtp::RTPPacket* packet : heldVideo) releaser->DeleteVideoPacket(packet);
    heldVideo.clear();
}

std::vector<uint8_t> RtpDatagram(uint8_t payloadType, uint16_t sequence, uint32_t timestamp, uint32_t ssrc,
                                 const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> bytes(12 + payload.size());
    bytes[0] = 0x80;
    bytes[1] = payloadType;
    bytes[2] = static_cast<uint8_t>(sequence >> 8);
    bytes[3] = static_cast<uint8_t>(sequence);
    for (int i = 0; i < 4; ++i) {
        bytes[4 + i] = static_cast<uint8_t>(timestamp >> (24 - 8 * i));
        bytes[8 + i] = static_cast<uint8_t>(ssrc >> (24 - 8 * i));
    }
    std::copy(payload.begin(), payload.end(), bytes.begin() + 12);
    return bytes;
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

UdpPortPair::UdpPortPair() {
    constexpr int kFirst = 20000, kPairs = 10000;
    std::random_device seed;
    const int start = static_cast<int>(seed() % kPairs);
    for (int i = 0; i < kPairs && port_ == 0; ++i) {
        const auto base = static_cast<uint16_t>(kFirst + 2 * ((start + i) % kPairs));
        for (int k = 0; k < 2; ++k) {
            fds_[k] = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_addr.s_addr = htonl(testing_support::kLoopback);
            local.sin_port = htons(static_cast<uint16_t>(base + k));
            if (bind(fds_[k], reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) break;
            if (k == 1) port_ = base;
        }
        if (port_ == 0) {
            for (int& fd : fds_) {
                if (fd >= 0) close(fd);
                fd = -1;
            }
        }
    }
}

UdpPortPair::~UdpPortPair() {
    for (int fd : fds_) {
        if (fd >= 0) close(fd);
    }
}

bool UdpPortPair::SendFrom(int fd, uint16_t toPort, const std::vector<uint8_t>& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(testing_support::kLoopback);
    to.sin_port = htons(toPort);
    return sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(bytes.size());
}

bool UdpPortPair::SendFromRtp(uint16_t toPort, const std::vector<uint8_t>& bytes) {
    return SendFrom(fds_[0], toPort, bytes);
}

bool UdpPortPair::SendFromRtcp(uint16_t toPort, const std::vector<uint8_t>& bytes) {
    return SendFrom(fds_[1], toPort, bytes);
}

size_t UdpPortPair::Collect(int timeoutMs) {
    size_t count = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd fds[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(std::max<long long>(left, 0))) <= 0) return count;
        for (int k = 0; k < 2; ++k) {
            if (!(fds[k].revents & POLLIN)) continue;
            Received datagram;
            datagram.bytes.resize(65536);
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got = recvfrom(fds_[k], datagram.bytes.data(), datagram.bytes.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 0) continue;
            datagram.bytes.resize(static_cast<size_t>(got));
            datagram.fromPort = ntohs(from.sin_port);
            datagram.toPort = static_cast<uint16_t>(port_ + k);
            received.push_back(std::move(datagram));
            ++count;
        }
    }
}

namespace {
void Put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

template <typename T>
void PutNative(std::FILE* file, T value) {
    std::fwrite(&value, sizeof value, 1, file);
}
}  // namespace

bool WriteLoopbackPcap(const std::string& path, const std::vector<UdpPortPair::Received>& datagrams) {
    constexpr uint32_t kPcapMagic = 0xA1B2C3D4;
    constexpr uint32_t kLinkTypeRawIp = 101;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    PutNative<uint32_t>(file, kPcapMagic);
    PutNative<uint16_t>(file, 2);
    PutNative<uint16_t>(file, 4);
    PutNative<int32_t>(file, 0);
    PutNative<uint32_t>(file, 0);
    PutNative<uint32_t>(file, 65535);
    PutNative<uint32_t>(file, kLinkTypeRawIp);
    uint32_t seconds = 0;
    for (const auto& datagram : datagrams) {
        std::vector<uint8_t> packet;
        const auto total = static_cast<uint16_t>(20 + 8 + datagram.bytes.size());
        packet.push_back(0x45);
        packet.push_back(0);
        Put16(packet, total);
        Put16(packet, 0);       // identification
        Put16(packet, 0x4000);  // don't fragment
        packet.push_back(64);   // TTL
        packet.push_back(17);   // UDP
        Put16(packet, 0);       // header checksum, filled below
        for (int i = 0; i < 2; ++i) {
            for (int shift = 24; shift >= 0; shift -= 8)
                packet.push_back(static_cast<uint8_t>(testing_support::kLoopback >> shift));
        }
        uint32_t sum = 0;
        for (size_t i = 0; i < 20; i += 2) sum += (packet[i] << 8) | packet[i + 1];
        while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
        packet[10] = static_cast<uint8_t>(~sum >> 8);
        packet[11] = static_cast<uint8_t>(~sum);
        Put16(packet, datagram.fromPort);
        Put16(packet, datagram.toPort);
        Put16(packet, static_cast<uint16_t>(8 + datagram.bytes.size()));
        Put16(packet, 0);  // no UDP checksum
        packet.insert(packet.end(), datagram.bytes.begin(), datagram.bytes.end());
        PutNative<uint32_t>(file, ++seconds);
        PutNative<uint32_t>(file, 0);
        PutNative<uint32_t>(file, static_cast<uint32_t>(packet.size()));
        PutNative<uint32_t>(file, static_cast<uint32_t>(packet.size()));
        std::fwrite(packet.data(), 1, packet.size(), file);
    }
    return std::fclose(file) == 0;
}

bool ToolExists(const std::string& name) {
    return std::system(("command -v " + name + " > /dev/null 2>&1").c_str()) == 0;
}

std::string RunCommand(const std::string& command) {
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    pclose(pipe);
    return output;
}

ManualTicks::ManualTicks(DWORD start) {
    g_ticks = start;
    SetTickSourceForTesting(&ManualTickSource);
}

ManualTicks::~ManualTicks() { SetTickSourceForTesting(nullptr); }

void ManualTicks::Set(DWORD now) { g_ticks = now; }

void ManualTicks::Advance(DWORD ms) { g_ticks += ms; }

void TransmissionTest::SetUp() {
    transmission.SetLogSink(&log);
    ASSERT_EQ(transmission.Create(window.Handle(), TestMessages(&eventContext)), 1);
}

void TransmissionTest::LearnPublicAddresses() {
    ASSERT_TRUE(server.Start(testing_support::kLoopback, 0));
    transmission.RequestPublicAddress(testing_support::kLoopback, server.Port(), &kRequestValue, sizeof kRequestValue);
    ASSERT_TRUE(window.PumpUntil([&] { return transmission.HasPublicAddresses(); }, 3000));
    ASSERT_TRUE(window.PumpUntil([&] { return !window.audioAddresses.empty() && !window.videoAddresses.empty(); },
                                 3000));
}

std::optional<testing_support::RtpView> TransmissionTest::NextRtp(testing_support::UdpPeer& peer, int timeoutMs) {
    auto datagram = peer.Receive(timeoutMs);
    if (!datagram) return std::nullopt;
    return testing_support::ParseRtp(datagram->bytes);
}

void TransmissionTest::AddLoopbackPeer(int userId, testing_support::UdpPeer& publicSide,
                                       testing_support::UdpPeer& localSide, RecordingPacketSink* sink, bool video) {
    ASSERT_EQ(transmission.AddUser(userId, testing_support::kLoopback, testing_support::kLoopback, sink), 1);
    const int set = video ? transmission.SetUserVideoPort(userId, publicSide.Port(), localSide.Port())
                          : transmission.SetUserAudioPort(userId, publicSide.Port(), localSide.Port());
    ASSERT_EQ(set, 1);
}

}  // namespace transport_testing
