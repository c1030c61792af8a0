// The receive path's cost per datagram: a sender on loopback sends a bounded
// number of datagrams at a steady rate to one of the transmission's ports;
// the engine's path takes each from the socket through the poll thread, the
// receive queue and the window message to where the engine hands it on: the
// frame assembler (video, whole frames of three fragments, assembled and
// dropped for want of a decoder) or the voice component's PlayAudio (voice,
// 50-byte frames, counted where the engine would call it). The baseline is a
// bare recvmmsg loop on the same port, receiving the same datagrams from the
// same sender, right after the transmission let the port go.
//
// Both sides are counted in datagrams per CPU second of the receiving threads
// (the poll threads and the thread that pumps the messages; the bare loop's
// thread), so a sender that cannot keep up, or a machine shared with other
// work, changes both alike. Engine and bare runs alternate, five of each;
// the ratio compares their medians.
#include "bench/thread_cpu.h"
#include "codec/frame_assembler.h"
#include "codec/video_fragments.h"
#include "tests/transport/transport_test_support.h"
#include "transport/transmission_constants.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <thread>
#include <vector>

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::kLoopback;
using testing_support::UdpPeer;

constexpr int kRepetitions = 5;
constexpr size_t kDatagramsPerRun = 30000;
constexpr int kDatagramsPerMillisecond = 30;  // 30,000 a second: a whole run takes about one second
constexpr auto kRunLimit = 5s;                // a run ends by then whatever arrived
constexpr auto kQuietEnd = 300ms;             // nothing more for this long: the sender is done
constexpr int kFragmentsPerFrame = 3;
constexpr size_t kFrameBytes = 1200;  // three fragments
constexpr size_t kVoiceFrameBytes = 50;
constexpr uint32_t kVoiceSsrc = 0x7E1CE;
constexpr uint32_t kVideoSsrc = 0x7E1DE0;
constexpr int kSenderId = 2;
constexpr unsigned kBatch = 64;  // datagrams per recvmmsg
constexpr size_t kLargestDatagram = 2048;
constexpr double kGoal = 0.5;
const uint32_t kRequestValue = 1;

// The datagrams of a run, as a remote engine sends them.
std::vector<std::vector<uint8_t>> Datagrams(bool video) {
    std::vector<std::vector<uint8_t>> datagrams;
    std::vector<uint8_t> frame(kFrameBytes);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7);
    uint8_t fragment[video_fragments::kMaxFragmentBytes];
    for (size_t n = 0; datagrams.size() < kDatagramsPerRun; ++n) {
        const auto sequence = static_cast<uint16_t>(datagrams.size());
        if (!video) {
            datagrams.push_back(transport_testing::RtpDatagram(transmission::kVoicePayloadType, sequence,
                                                               static_cast<uint32_t>(n * 240), kVoiceSsrc,
                                                               std::vector<uint8_t>(kVoiceFrameBytes, 0x55)));
            continue;
        }
        const auto timestamp = static_cast<uint32_t>(n * video_fragments::kTimestampPerFrame);
        for (int i = 0; i < kFragmentsPerFrame; ++i) {
            const size_t length =
                video_fragments::CutFragment(frame.data(), frame.size(), kFragmentsPerFrame, i, fragment);
            datagrams.push_back(transport_testing::RtpDatagram(transmission::kVideoPayloadType,
                                                               static_cast<uint16_t>(sequence + i), timestamp,
                                                               kVideoSsrc,
                                                               std::vector<uint8_t>(fragment, fragment + length)));
        }
    }
    datagrams.resize(kDatagramsPerRun);
    return datagrams;
}

// Sends every datagram to `port` at the steady rate, on a thread of its own.
class Sender {
public:
    Sender(UdpPeer& from, uint16_t port, const std::vector<std::vector<uint8_t>>& datagrams)
        : thread_([&from, port, &datagrams] {
              auto due = Clock::now();
              for (size_t i = 0; i < datagrams.size(); ++i) {
                  if (i % kDatagramsPerMillisecond == 0) {
                      due += 1ms;
                      std::this_thread::sleep_until(due);
                  }
                  from.SendTo(kLoopback, port, datagrams[i].data(), datagrams[i].size());
              }
          }) {}
    ~Sender() { thread_.join(); }

private:
    std::thread thread_;
};

// What the engine hands on: video fragments into a frame assembler (complete
// frames go nowhere), voice frames counted as PlayAudio would get them.
class CountingSink : public ITavolinPacketSink, private IFragmentReleaser {
public:
    CountingSink() { assembler_.SetReleaser(this); }
    void OnVideoPacket(int, rtp::RTPPacket* packet) override {
        ++delivered;
        assembler_.AddPacket(ReceivedFragment{packet->GetPayloadData(), packet->GetPayloadLength(),
                                              packet->GetTimestamp(), packet});
    }
    void OnAudioPacket(int, const uint8_t*, size_t) override { ++delivered; }
    void SetTransmission(ITavolinPacketReleaser* transmission) override { releaser_ = transmission; }
    void ReleaseHeldPackets() override { assembler_.ReleaseAll(); }

    size_t delivered = 0;

private:
    void ReleaseFragment(void* token) override { releaser_->DeleteVideoPacket(static_cast<rtp::RTPPacket*>(token)); }

    CVideoFrameAssembler assembler_;
    ITavolinPacketReleaser* releaser_ = nullptr;
};

struct RunResult {
    size_t received = 0;
    double cpuSeconds = 0;
    double PerCpuSecond() const { return cpuSeconds > 0 ? static_cast<double>(received) / cpuSeconds : 0; }
};

// One run through the transmission; `port` tells the port it listened on.
RunResult RunEngine(bool video, const std::vector<std::vector<uint8_t>>& datagrams, uint16_t serverPort,
                    uint16_t* port) {
    transport_testing::TestWindow window;
    int context = 0;
    CountingSink sink;
    UdpPeer voiceSide, videoSide;
    RunResult result;
    std::set<pid_t> threads = {bench::CurrentThreadId()};
    {
        CTavolinTransmission transmission;
        const std::set<pid_t> before = bench::ThreadIds();
        if (transmission.Create(window.Handle(), transport_testing::TestMessages(&context)) != 1) return result;
        for (const pid_t tid : bench::ThreadIds())
            if (!before.count(tid)) threads.insert(tid);
        transmission.RequestPublicAddress(kLoopback, serverPort, &kRequestValue, sizeof kRequestValue);
        if (!window.PumpUntil([&] { return transmission.HasPublicAddresses(); }, 3000)) return result;
        transmission.AddUser(kSenderId, kLoopback, kLoopback, &sink);
        transmission.SetUserAudioPort(kSenderId, voiceSide.Port(), voiceSide.Port());
        transmission.SetUserVideoPort(kSenderId, videoSide.Port(), videoSide.Port());
        window.PumpFor(50);  // the greetings
        sink.delivered = 0;
        *port = video ? transmission.GetLocalVideoPort() : transmission.GetLocalAudioPort();

        const auto cpuBefore = bench::ReadThreadCpu();
        {
            Sender sender(video ? videoSide : voiceSide, *port, datagrams);
            const auto end = Clock::now() + kRunLimit;
            size_t seen = 0;
            auto lastChange = Clock::now();
            window.PumpUntil(
                [&] {
                    const auto now = Clock::now();
                    if (sink.delivered != seen) {
                        seen = sink.delivered;
                        lastChange = now;
                    }
                    return seen >= datagrams.size() || now > end || now - lastChange > kQuietEnd;
                },
                static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(kRunLimit).count()));
        }
        result.cpuSeconds = bench::SecondsOf(bench::CpuBetween(cpuBefore, bench::ReadThreadCpu()), threads);
        result.received = sink.delivered;
        transmission.Destroy();
    }
    return result;
}

// The same datagrams to a plain socket on `port`, read with recvmmsg.
RunResult RunBare(const std::vector<std::vector<uint8_t>>& datagrams, uint16_t port) {
    RunResult result;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopback);
    address.sin_port = htons(port);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) close(fd);
        return result;
    }
    std::vector<std::array<uint8_t, kLargestDatagram>> buffers(kBatch);
    std::array<iovec, kBatch> vectors{};
    std::array<mmsghdr, kBatch> messages{};
    UdpPeer from;
    const double cpuBefore = bench::CurrentThreadCpuSeconds();
    {
        Sender sender(from, port, datagrams);
        const auto end = Clock::now() + kRunLimit;
        const int quietMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(kQuietEnd).count());
        pollfd waiting{fd, POLLIN, 0};
        while (result.received < datagrams.size() && Clock::now() < end && poll(&waiting, 1, quietMs) > 0) {
            for (unsigned i = 0; i < kBatch; ++i) {
                vectors[i] = {buffers[i].data(), buffers[i].size()};
                messages[i] = {};
                messages[i].msg_hdr.msg_iov = &vectors[i];
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            const int count = recvmmsg(fd, messages.data(), kBatch, MSG_DONTWAIT, nullptr);
            if (count > 0) result.received += static_cast<size_t>(count);
        }
    }
    result.cpuSeconds = bench::CurrentThreadCpuSeconds() - cpuBefore;
    close(fd);
    return result;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Prints one medium's line; true when the goal is met.
bool Measure(bool video, uint16_t serverPort) {
    const std::vector<std::vector<uint8_t>> datagrams = Datagrams(video);
    std::vector<double> engineRates, bareRates;
    size_t engineReceived = 0, bareReceived = 0;
    for (int repetition = 0; repetition < kRepetitions; ++repetition) {
        uint16_t port = 0;
        const RunResult engine = RunEngine(video, datagrams, serverPort, &port);
        const RunResult bare = RunBare(datagrams, port);
        if (engine.received == 0 || bare.received == 0) {
            std::printf("%s: a run received nothing (port %u)\n", video ? "video" : "voice", port);
            return false;
        }
        engineRates.push_back(engine.PerCpuSecond());
        bareRates.push_back(bare.PerCpuSecond());
        engineReceived += engine.received;
        bareReceived += bare.received;
    }
    const double engine = Median(engineRates), bare = Median(bareRates), ratio = engine / bare;
    const double sent = static_cast<double>(kDatagramsPerRun) * kRepetitions;
    std::printf("%-6s %12.0f %12.0f %8.3f  %6.2f%% %6.2f%%  %s\n", video ? "video" : "voice", engine, bare, ratio,
                100.0 * static_cast<double>(engineReceived) / sent, 100.0 * static_cast<double>(bareReceived) / sent,
                ratio >= kGoal ? "met" : "NOT MET");
    return ratio >= kGoal;
}
}  // namespace

int main() {
    CAddressServerThread server;
    if (!server.Start(kLoopback, 0)) {
        std::fprintf(stderr, "cannot start the address server on loopback\n");
        return 1;
    }
    std::printf(
        "Receive path: datagrams per CPU second, socket to frame assembler / PlayAudio, against a bare\n"
        "recvmmsg loop on the same port (goal: ratio >= %.2f; %zu datagrams a run at %d a second, median of "
        "%d)\n",
        kGoal, kDatagramsPerRun, kDatagramsPerMillisecond * 1000, kRepetitions);
    std::printf("medium  engine dg/cpu-s  bare dg/cpu-s   ratio  received engine/bare\n");
    const bool videoMet = Measure(true, server.Port());
    const bool voiceMet = Measure(false, server.Port());
    return videoMet && voiceMet ? 0 : 2;
}
