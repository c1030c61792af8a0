// CPU per relayed datagram in a room of 16: framing media for a bound peer
// as ChannelData and sending it, and unwrapping what the relay server
// delivers, each with the one copy of the datagram that the direct path makes
// too (into or out of the kernel), against that copy alone; and a session's
// whole relayed path through loopback sockets against the direct one.
#include "bench/ratio_reporter.h"

#include "tests/transport/relay/canned_server.h"
#include "tests/transport/rtp/rtp_test_support.h"
#include "transport/relay/allocation.h"
#include "transport/relay/channel_data.h"
#include "transport/session_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace {
using namespace relay;
using namespace relay_testing;

constexpr int kOtherPlayers = 15;
constexpr size_t kMaxDatagramBytes = 1500;

// Records while the allocation is set up, then copies each datagram into one
// buffer as sendmsg copies it into the kernel.
struct CopyingPort : RecordingPort {
    bool copying = false;
    uint8_t buffer[kMaxDatagramBytes + 64];
    size_t length = 0;

    bool SendToServer(const rtp::RTPIPv4Address& to, std::span<const Piece> pieces) override {
        if (!copying) return RecordingPort::SendToServer(to, pieces);
        length = 0;
        for (const Piece piece : pieces) {
            std::memcpy(buffer + length, piece.data(), piece.size());
            length += piece.size();
        }
        return true;
    }
};

rtp::RTPIPv4Address Player(int index) { return rtp::RTPIPv4Address(kPeer.GetIP(), kPeer.GetPort() + 2 * index); }

// Allocated, with a bound channel for each of the other players.
struct Room {
    CopyingPort port;
    rtp_testing::FixedRandom random;
    Allocation allocation{port, random, kServerSettings, PortRequest{true, std::nullopt}};

    Room() {
        AllocateWithBoundPeer(allocation, port, 0);
        RelayedDatagram relayed;
        for (int i = 1; i < kOtherPlayers; ++i) {
            allocation.AddPeer(Player(i), 0);  // a known address: the channel alone
            allocation.OnServerDatagram(Answer(port.Request(), StunClass::kSuccess), 0, &relayed);
        }
        port.copying = true;
    }
};

void BM_Copy(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> source(size, 0x5A), target(size);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), size);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Copy)->Arg(200)->Arg(1200);

void BM_RelayWrap(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    Room room;
    const std::vector<uint8_t> media(size, 0x5A);
    const rtp::RTPIPv4Address last = Player(kOtherPlayers - 1);
    int64_t now = 0;
    for (auto _ : state) {
        if (!room.allocation.SendToPeer(last, media, ++now)) state.SkipWithError("not sent");
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RelayWrap)->Arg(200)->Arg(1200);

void BM_RelayUnwrap(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    Room room;
    std::vector<uint8_t> delivered(kChannelDataHeaderBytes + size, 0x5A), received(delivered.size());
    WriteChannelDataHeader(delivered.data(), kFirstChannel + kOtherPlayers - 1, size);
    RelayedDatagram relayed;
    int64_t now = 0;
    for (auto _ : state) {
        std::memcpy(received.data(), delivered.data(), delivered.size());
        if (room.allocation.OnServerDatagram(received, ++now, &relayed) != Allocation::Received::kRelayed)
            state.SkipWithError("not relayed");
        benchmark::DoNotOptimize(relayed);
    }
}
BENCHMARK(BM_RelayUnwrap)->Arg(200)->Arg(1200);

// ---- the session's whole relayed path against the direct one, through the kernel ----
// A datagram of the medium to a peer and the same datagram back: direct, a
// sendto and a recv; relayed, the session's relay framing it and sending it
// with sendmsg, a recv, and the relay unwrapping it. Both on loopback.
class LoopbackSockets : public SessionRelay::Sockets {
public:
    LoopbackSockets() {
        sender_ = socket(AF_INET, SOCK_DGRAM, 0);
        receiver_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(receiver_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(receiver_, reinterpret_cast<sockaddr*>(&address), &length);
        receiverAddress_ = address;
    }
    ~LoopbackSockets() {
        close(sender_);
        close(receiver_);
    }
    // Where everything goes: the relay server's address as the session sees it.
    rtp::RTPIPv4Address Receiver() const {
        return rtp::RTPIPv4Address(ntohl(receiverAddress_.sin_addr.s_addr), ntohs(receiverAddress_.sin_port));
    }
    bool SendPieces(bool, const rtp::RTPIPv4Address&, std::span<const Piece> pieces) override {
        if (recording) {
            Bytes bytes;
            for (const Piece piece : pieces) bytes.insert(bytes.end(), piece.begin(), piece.end());
            requests.push_back(std::move(bytes));
            return true;
        }
        // As the transmitter's SendPieces does for a datagram of this size.
        uint8_t joined[kMaxDatagramBytes + 64];
        size_t length = 0;
        for (const Piece piece : pieces) {
            std::memcpy(joined + length, piece.data(), piece.size());
            length += piece.size();
        }
        return sendto(sender_, joined, length, 0, reinterpret_cast<const sockaddr*>(&receiverAddress_),
                      sizeof receiverAddress_) >= 0;
    }
    void OnRelayed(const rtp::RTPIPv4Address&, const rtp::RTPIPv4Address&) override {}
    void SendDirect(const std::vector<uint8_t>& datagram) {
        sendto(sender_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&receiverAddress_),
               sizeof receiverAddress_);
    }
    ssize_t Receive(uint8_t* buffer, size_t size) { return recv(receiver_, buffer, size, 0); }

    bool recording = true;
    std::vector<Bytes> requests;

private:
    int sender_ = -1;
    int receiver_ = -1;
    sockaddr_in receiverAddress_{};
};

// A session's relay allocated on both sockets, the peer's channel bound.
struct RelayedSession {
    LoopbackSockets sockets;
    rtp_testing::FixedRandom random;
    std::optional<SessionRelay> relay;

    RelayedSession() {
        RelayServer server = kServerSettings;
        server.address = sockets.Receiver();
        relay.emplace(sockets, random, std::vector<RelayServer>{server});
        relay->Start(SessionRelay::NowMs());
        for (const bool rtp : {true, false}) {
            Give(rtp, Challenge(LastRequest()));
            Give(rtp, Grant(LastRequest()));
        }
        const size_t asked = sockets.requests.size();
        relay->Send(true, Bytes(12, 0x80), kPeer);  // asks for the peer's permission and channel
        for (size_t i = asked; i < sockets.requests.size(); ++i) {
            const StunMessage request = Request(i);
            if (request.Class() == StunClass::kRequest) Give(true, Answer(request, StunClass::kSuccess));
        }
        sockets.recording = false;
    }
    StunMessage Request(size_t index) const { return *StunMessage::Parse(sockets.requests[index]); }
    StunMessage LastRequest() const { return Request(sockets.requests.size() - 1); }
    void Give(bool rtp, const Bytes& answer) {
        RelayedDatagram relayed;
        relay->OnServerDatagram(rtp, answer, SessionRelay::NowMs(), &relayed);
    }
};

void BM_DirectRoundTrip(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    LoopbackSockets sockets;
    const std::vector<uint8_t> media(size, 0x80);
    uint8_t buffer[kMaxDatagramBytes + 64];
    for (auto _ : state) {
        sockets.SendDirect(media);
        if (sockets.Receive(buffer, sizeof buffer) != static_cast<ssize_t>(size)) state.SkipWithError("lost");
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_DirectRoundTrip)->Arg(200)->Arg(1200);

void BM_RelayedRoundTrip(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    RelayedSession session;
    const std::vector<uint8_t> media(size, 0x80);
    uint8_t buffer[kMaxDatagramBytes + 64];
    RelayedDatagram relayed;
    for (auto _ : state) {
        if (!session.relay->Send(true, media, kPeer)) state.SkipWithError("not relayed");
        const ssize_t length = session.sockets.Receive(buffer, sizeof buffer);
        if (length <= 0 ||
            session.relay->OnServerDatagram(true, std::span(buffer, static_cast<size_t>(length)), SessionRelay::NowMs(),
                                            &relayed) != Allocation::Received::kRelayed) {
            state.SkipWithError("not unwrapped");
        }
        benchmark::DoNotOptimize(relayed);
    }
}
BENCHMARK(BM_RelayedRoundTrip)->Arg(200)->Arg(1200);

}  // namespace

int main(int argc, char** argv) {
    if (!bench::Initialize(&argc, argv)) return 1;
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* size : {"200", "1200"}) {
        const double copy = reporter.Seconds(std::string("BM_Copy/") + size);
        const double wrap = reporter.Seconds(std::string("BM_RelayWrap/") + size);
        const double unwrap = reporter.Seconds(std::string("BM_RelayUnwrap/") + size);
        const double direct = reporter.Seconds(std::string("BM_DirectRoundTrip/") + size);
        const double relayed = reporter.Seconds(std::string("BM_RelayedRoundTrip/") + size);
        if (direct > 0 && relayed > 0)
            std::printf(
                "%s-byte datagram sent and received through the kernel: relayed %.3f of direct "
                "(BM_RelayedRoundTrip / BM_DirectRoundTrip), %.1f ns more\n",
                size, relayed / direct, relayed - direct);
        if (copy > 0 && wrap > 0 && unwrap > 0)
            std::printf(
                "%s-byte datagram, relative to copying it: framing and sending %.2f, unwrapping %.2f "
                "(BM_RelayWrap / BM_Copy, BM_RelayUnwrap / BM_Copy); beyond the copy %.1f ns and %.1f ns\n",
                size, wrap / copy, unwrap / copy, wrap - copy, unwrap - copy);
    }
    benchmark::Shutdown();
    return 0;
}
