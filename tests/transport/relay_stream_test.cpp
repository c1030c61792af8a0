// A relay connection against a listening socket on loopback: requests wait
// for the connection and media does not, messages come out whole however
// the bytes arrive, a full kernel drops media but never cuts a message, and
// a closed connection stays broken.
#include "transport/relay/binding_probe.h"
#include "transport/relay/channel_data.h"
#include "transport/relay/stream_deframer.h"
#include "transport/relay_stream.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {
constexpr uint32_t kLoopback = 0x7F000001;
constexpr int kWaitMs = 2000;
// A pause this long means the client has sent all it had.
constexpr int kQuietMs = 100;
// Far more than loopback's kernel buffers hold, so the stream fills up.
constexpr int kMaxSends = 20000;
constexpr size_t kMediaBytes = 1001;  // padded to 1008 over a stream

std::vector<uint8_t> Request(uint8_t tag) {
    relay::TransactionId id{};
    id[0] = tag;
    return relay::BuildBindingRequest(id);
}

// A listening socket; Accept gives the server's end of one connection.
class Listener {
public:
    Listener() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int small = 4096;  // inherited by the accepted socket
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(kLoopback);
        bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at);
        listen(fd_, 1);
        socklen_t length = sizeof at;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&at), &length);
        port_ = ntohs(at.sin_port);
    }
    ~Listener() {
        close(fd_);
        if (peer_ >= 0) close(peer_);
    }
    uint16_t Port() const { return port_; }
    bool Accept() {
        pollfd ready{fd_, POLLIN, 0};
        if (poll(&ready, 1, kWaitMs) != 1) return false;
        peer_ = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        return peer_ >= 0;
    }
    // Every message the client's bytes carry until they stop for a moment.
    std::vector<std::vector<uint8_t>> Messages() {
        std::vector<std::vector<uint8_t>> messages;
        pollfd ready{peer_, POLLIN, 0};
        while (poll(&ready, 1, kQuietMs) == 1) {
            const std::span<uint8_t> space = deframer_.Space();
            const ssize_t received = recv(peer_, space.data(), space.size(), 0);
            if (received <= 0) break;
            deframer_.Commit(static_cast<size_t>(received));
            std::span<const uint8_t> message;
            while (deframer_.Next(&message) == relay::StreamDeframer::Result::kMessage)
                messages.emplace_back(message.begin(), message.end());
        }
        return messages;
    }
    void Write(std::span<const uint8_t> bytes) { ASSERT_EQ(send(peer_, bytes.data(), bytes.size(), 0), bytes.size()); }
    void Close() {
        close(peer_);
        peer_ = -1;
    }

private:
    int fd_ = -1;
    int peer_ = -1;
    uint16_t port_ = 0;
    relay::StreamDeframer deframer_;
};

void Open(RelayStream& stream) {
    for (int i = 0; i < kWaitMs && stream.GetState() != RelayStream::State::kOpen; ++i) {
        stream.Service();
        if (stream.GetState() == RelayStream::State::kConnecting) poll(nullptr, 0, 1);
    }
}

TEST(RelayStream, RequestsWaitForTheConnectionMediaDoesNotAndMessagesComeOutWhole) {
    Listener server;
    RelayStream stream(rtp::RTPIPv4Address(kLoopback, server.Port()));
    const std::vector<uint8_t> request = Request(1);
    const std::vector<uint8_t> media(8, 0x40);
    EXPECT_TRUE(stream.Send(std::vector<relay::Piece>{request}, true));
    EXPECT_FALSE(stream.Send(std::vector<relay::Piece>{media}, false)) << "media is not queued";
    EXPECT_FALSE(stream.Descriptor()) << "nothing to wait on before the connection is made";
    Open(stream);
    ASSERT_EQ(stream.GetState(), RelayStream::State::kOpen);
    ASSERT_TRUE(server.Accept());
    EXPECT_EQ(server.Messages(), std::vector<std::vector<uint8_t>>{request});

    // A padded ChannelData message and a STUN answer, the first cut mid-header.
    const std::vector<uint8_t> bytes = {0x40, 0x00, 0x00, 0x03, 'a', 'b', 'c', 0};
    const std::vector<uint8_t> answer = Request(2);
    server.Write(std::span(bytes).first(2));
    std::span<const uint8_t> message;
    EXPECT_FALSE(stream.HasMessage());
    server.Write(std::span(bytes).subspan(2));
    server.Write(answer);
    for (int i = 0; i < kWaitMs && !stream.HasMessage(); ++i) poll(nullptr, 0, 1);
    ASSERT_TRUE(stream.HasMessage());
    ASSERT_TRUE(stream.Next(&message));
    EXPECT_EQ(std::vector<uint8_t>(message.begin(), message.end()),
              std::vector<uint8_t>(bytes.begin(), bytes.end() - 1))
        << "without its padding";
    ASSERT_TRUE(stream.Next(&message));
    EXPECT_EQ(std::vector<uint8_t>(message.begin(), message.end()), answer);
    EXPECT_FALSE(stream.Next(&message));

    server.Close();
    for (int i = 0; i < kWaitMs && stream.GetState() == RelayStream::State::kOpen; ++i) {
        stream.Next(&message);
        poll(nullptr, 0, 1);
    }
    EXPECT_EQ(stream.GetState(), RelayStream::State::kBroken);
    EXPECT_FALSE(stream.Send(std::vector<relay::Piece>{request}, true));
    EXPECT_FALSE(stream.Descriptor());
}

// The server reads nothing until the client's media is refused: every
// message it then reads is whole, the refused ones are missing, and the
// request sent while the kernel was full follows the last media accepted.
TEST(RelayStream, AFullConnectionDropsMediaAndKeepsEveryMessageWhole) {
    Listener server;
    RelayStream stream(rtp::RTPIPv4Address(kLoopback, server.Port()));
    Open(stream);
    ASSERT_TRUE(server.Accept());
    uint8_t head[relay::kChannelDataHeaderBytes];
    relay::WriteChannelDataHeader(head, relay::kFirstChannel, kMediaBytes);
    const std::vector<uint8_t> payload(kMediaBytes, 0x55);
    const uint8_t padding[3] = {};
    const std::vector<relay::Piece> media{head, payload, std::span(padding, 3)};
    int accepted = 0;
    while (accepted < kMaxSends && stream.Send(media, false)) ++accepted;
    ASSERT_LT(accepted, kMaxSends) << "the kernel never filled";
    EXPECT_FALSE(stream.Send(media, false)) << "still full: dropped, not queued";
    const std::vector<uint8_t> request = Request(3);
    EXPECT_TRUE(stream.Send(std::vector<relay::Piece>{request}, true));

    std::vector<std::vector<uint8_t>> messages;
    for (int round = 0; round < kMaxSends && (messages.empty() || messages.back() != request); ++round) {
        stream.Service();
        const std::vector<std::vector<uint8_t>> read = server.Messages();
        messages.insert(messages.end(), read.begin(), read.end());
    }
    ASSERT_EQ(messages.size(), static_cast<size_t>(accepted) + 1);
    EXPECT_EQ(messages.back(), request);
    for (size_t i = 0; i + 1 < messages.size(); ++i)
        ASSERT_EQ(messages[i].size(), relay::kChannelDataHeaderBytes + kMediaBytes) << "message " << i;
}

}  // namespace
