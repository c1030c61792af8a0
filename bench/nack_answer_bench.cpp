// What one hostile NACK compound costs the video poll thread. A peer on
// loopback sends RTCP compounds of 1,500 bytes to the transmission's video
// RTCP port while the sent history holds a full second of our video (256
// packets of 500 bytes, sent just before). Three kinds of compound, each a
// receiver report and then:
// - an APP packet filling the rest: the baseline, a compound of the same size
//   that asks for nothing;
// - "spread": a NACK of 370 entries with every bit set, 6,290 distinct
//   numbers ending at the newest packet sent (the whole history among them);
// - "repeated": the same 370 entries over and over the last 24 numbers sent,
//   so that every number is held and asked for 260 times.
// The figure is the CPU of the transmission's threads (the poll threads) per
// compound; runs alternate over the kinds, five of each, and the ratio
// compares medians against the baseline.
#include "bench/thread_cpu.h"
#include "tests/transport/transport_test_support.h"
#include "transport/rtp/rtcp_builder.h"
#include "transport/rtp/rtp_byte_order.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>
#include <vector>

namespace {
using namespace std::chrono_literals;
using testing_support::kLoopback;

constexpr int kRepetitions = 5;
constexpr int kCompoundsPerRun = 200;
constexpr auto kCompoundSpacing = 2ms;  // 500 a second: the run stays within the history's second
constexpr auto kSettle = 500ms;         // after the last compound, for the poll thread to finish
constexpr size_t kCompoundBytes = 1500;
constexpr size_t kHistoryPackets = 256;
constexpr size_t kVideoPayloadBytes = 500;
constexpr int kNackEntries = 370;  // 8 + 12 + 4 * 370 = 1,500 bytes
constexpr uint16_t kAllBits = 0xFFFF;
constexpr int kRepeatedSpan = 24;
constexpr uint32_t kPeerSsrc = 0x5151;
constexpr int kPeerId = 2;
constexpr uint32_t kRequestValue = 1;

enum class Kind { kBaseline, kSpread, kRepeated };
const char* NameOf(Kind kind) {
    return kind == Kind::kBaseline ? "baseline (APP)" : kind == Kind::kSpread ? "spread NACK" : "repeated NACK";
}

void Append16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void Append32(std::vector<uint8_t>& out, uint32_t value) {
    Append16(out, static_cast<uint16_t>(value >> 16));
    Append16(out, static_cast<uint16_t>(value));
}

// One RTCP packet header: version 2, `count` in the low bits, the length in words less one.
void AppendHeader(std::vector<uint8_t>& out, uint8_t count, uint8_t type, size_t bytes) {
    out.push_back(static_cast<uint8_t>(0x80 | count));
    out.push_back(type);
    Append16(out, static_cast<uint16_t>(bytes / 4 - 1));
}

// newest: the number of the last packet sent; mediaSsrc: our video source.
std::vector<uint8_t> Compound(Kind kind, uint16_t newest, uint32_t mediaSsrc) {
    rtp::RTCPCompoundBuilder report(kCompoundBytes);
    report.AddReceiverReport(kPeerSsrc, nullptr, 0);
    std::vector<uint8_t> out(report.GetData(), report.GetData() + report.GetLength());
    const size_t rest = kCompoundBytes - out.size();
    if (kind == Kind::kBaseline) {
        AppendHeader(out, 0, 204, rest);
        Append32(out, kPeerSsrc);
        for (const char c : {'b', 'e', 'n', 'c'}) out.push_back(static_cast<uint8_t>(c));
        out.resize(kCompoundBytes, 0);
        return out;
    }
    AppendHeader(out, 1, 205, rest);  // generic NACK
    Append32(out, kPeerSsrc);
    Append32(out, mediaSsrc);
    for (int i = 0; i < kNackEntries; ++i) {
        const int back = kind == Kind::kSpread ? 17 * (kNackEntries - i) - 1 : kRepeatedSpan - 1 - i % 8;
        Append16(out, static_cast<uint16_t>(newest - back));
        Append16(out, kAllBits);
    }
    return out;
}

// Microseconds of the transmission's threads per compound of `kind`; 0 when the run failed.
double Run(Kind kind, uint16_t serverPort, uint64_t* resent, uint64_t* unread) {
    transport_testing::TestWindow window;
    int context = 0;
    transport_testing::RecordingPacketSink sink;
    transport_testing::UdpPortPair peer;
    CTavolinTransmission transmission;
    const std::set<pid_t> before = bench::ThreadIds();
    if (transmission.Create(window.Handle(), transport_testing::TestMessages(&context)) != 1) return 0;
    std::set<pid_t> threads;
    for (const pid_t tid : bench::ThreadIds())
        if (!before.count(tid)) threads.insert(tid);
    transmission.RequestPublicAddress(kLoopback, serverPort, &kRequestValue, sizeof kRequestValue);
    if (!window.PumpUntil([&] { return transmission.HasPublicAddresses(); }, 3000)) return 0;
    transmission.AddUser(kPeerId, kLoopback, kLoopback, &sink);
    transmission.SetUserVideoPort(kPeerId, peer.RtpPort(), peer.RtpPort());

    const std::vector<uint8_t> payload(kVideoPayloadBytes, 0x5A);
    for (size_t i = 0; i < kHistoryPackets; ++i) {
        transmission.NextVideoFrame();
        transmission.SendVideo(payload.data(), payload.size(), 0);
    }
    peer.Collect(50);
    uint16_t newest = 0;
    for (const auto& datagram : peer.received)
        if (datagram.toPort == peer.RtpPort() && datagram.bytes.size() > kVideoPayloadBytes)
            newest = rtp::Read16(datagram.bytes.data() + 2);
    const std::vector<uint8_t> compound = Compound(kind, newest, transmission.GetLocalSsrc(Medium::kVideo));

    const auto cpuBefore = bench::ReadThreadCpu();
    auto due = std::chrono::steady_clock::now();
    for (int i = 0; i < kCompoundsPerRun; ++i) {
        peer.SendFromRtcp(static_cast<uint16_t>(transmission.GetLocalVideoPort() + 1), compound);
        due += kCompoundSpacing;
        std::this_thread::sleep_until(due);
    }
    std::this_thread::sleep_for(kSettle);
    const double seconds = bench::SecondsOf(bench::CpuBetween(cpuBefore, bench::ReadThreadCpu()), threads);
    PeerTransportStatistics figures;
    transmission.GetPeerStatistics(kPeerId, &figures);
    // A poll thread slower than the compounds come leaves some unread (the
    // socket's buffer overflows): the cost is per compound it read.
    const uint64_t read = kind == Kind::kBaseline ? kCompoundsPerRun : figures.nacksReceived;
    *unread += kCompoundsPerRun - read;
    *resent += figures.packetsRetransmitted;
    transmission.Destroy();
    return read ? 1e6 * seconds / static_cast<double>(read) : 0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
}  // namespace

int main() {
    CAddressServerThread server;
    if (!server.Start(kLoopback, 0)) {
        std::fprintf(stderr, "cannot start the address server on loopback\n");
        return 1;
    }
    const Kind kinds[] = {Kind::kBaseline, Kind::kSpread, Kind::kRepeated};
    std::map<Kind, std::vector<double>> costs;
    std::map<Kind, uint64_t> resent, unread;
    for (int repetition = 0; repetition < kRepetitions; ++repetition) {
        for (const Kind kind : kinds) {
            const double cost = Run(kind, server.Port(), &resent[kind], &unread[kind]);
            if (cost <= 0) return 2;
            costs[kind].push_back(cost);
        }
    }
    std::printf(
        "Video poll thread CPU per %zu-byte RTCP compound from one peer, the sent history full "
        "(%d compounds a run, median of %d runs)\n",
        kCompoundBytes, kCompoundsPerRun, kRepetitions);
    std::printf("compound          us/compound  over baseline  resent/run  unread/run\n");
    const double baseline = Median(costs[Kind::kBaseline]);
    for (const Kind kind : kinds)
        std::printf("%-16s %12.1f %14.2f %11.1f %11.1f\n", NameOf(kind), Median(costs[kind]),
                    Median(costs[kind]) / baseline, static_cast<double>(resent[kind]) / kRepetitions,
                    static_cast<double>(unread[kind]) / kRepetitions);
    return 0;
}
