// One TCP connection to a relay server, for the allocation of one session
// socket (the server keeps an allocation for as long as its connection).
// Opened without blocking on the poll thread; what comes in is cut into
// messages by their own lengths. What goes out goes whole or not at all:
// media the socket cannot take now is dropped, never queued. A request is
// sent once over a stream, so it waits in a small queue while the
// connection opens or the kernel is full; and the rest of a message the
// kernel took in part waits there too, so the stream never goes out of step.
//
// Not locked: its owner's lock covers it.
#pragma once

#include "transport/relay/relay_port.h"
#include "transport/relay/stream_deframer.h"
#include "transport/rtp/rtp_ipv4_address.h"

#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class RelayStream {
public:
    // Requests a connection may hold back; a handful of small messages.
    static constexpr size_t kMaxQueuedBytes = 8192;

    explicit RelayStream(const rtp::RTPIPv4Address& server) : server_(server) {}
    ~RelayStream();
    RelayStream(const RelayStream&) = delete;
    RelayStream& operator=(const RelayStream&) = delete;

    enum class State : uint8_t { kIdle, kConnecting, kOpen, kBroken };
    State GetState() const { return state_; }
    const rtp::RTPIPv4Address& Server() const { return server_; }

    // Poll thread: connects when idle, sees the connection open, sends what
    // waits. A refused or dropped connection is kBroken for good.
    void Service();
    // The pieces as one message; `mayWait`: a request, queued when it cannot
    // go now. False when it was dropped.
    bool Send(std::span<const relay::Piece> pieces, bool mayWait);

    // The descriptor and the events to wait for, while there is one.
    std::optional<pollfd> Descriptor() const;
    // Whether a whole message has arrived (reads what the kernel holds).
    bool HasMessage();
    // The next whole message, valid until the next call of either.
    bool Next(std::span<const uint8_t>* message);

private:
    void Connect();
    bool Read(std::span<const uint8_t>* message);
    void Flush();
    void Queue(std::span<const relay::Piece> pieces, size_t skip);
    void Break();

    const rtp::RTPIPv4Address server_;
    State state_ = State::kIdle;
    int fd_ = -1;
    std::vector<uint8_t> queue_;  // whole messages, but for the first one's part sent
    relay::StreamDeframer deframer_;
    std::optional<std::span<const uint8_t>> held_;  // read by HasMessage, not yet taken
};
