#include "transport/relay_stream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {
// A relayed datagram: header, payload, padding.
constexpr size_t kMaxPieces = 4;
// Reads one call makes at most, so that a fast server cannot hold the poll step.
constexpr int kMaxReadsPerCall = 4;

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
}  // namespace

RelayStream::~RelayStream() {
    if (fd_ >= 0) close(fd_);
}

void RelayStream::Service() {
    if (state_ == State::kIdle) Connect();
    if (state_ == State::kConnecting) {
        pollfd writable{fd_, POLLOUT, 0};
        if (poll(&writable, 1, 0) <= 0) return;
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            Break();
            return;
        }
        state_ = State::kOpen;
    }
    if (state_ == State::kOpen) Flush();
}

void RelayStream::Connect() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        Break();
        return;
    }
    // Media is small and late media is useless: no coalescing.
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(server_.GetIP());
    to.sin_port = htons(server_.GetPort());
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        state_ = State::kOpen;
    } else if (errno == EINPROGRESS) {
        state_ = State::kConnecting;
    } else {
        Break();
    }
}

bool RelayStream::Send(std::span<const relay::Piece> pieces, bool mayWait) {
    size_t total = 0;
    for (const relay::Piece piece : pieces) total += piece.size();
    if (state_ == State::kBroken || pieces.size() > kMaxPieces) return false;
    const bool fits = queue_.size() + total <= kMaxQueuedBytes;
    if (state_ != State::kOpen || !queue_.empty()) {
        if (!mayWait || !fits) return false;
        Queue(pieces, 0);
        return true;
    }
    iovec vectors[kMaxPieces];
    for (size_t i = 0; i < pieces.size(); ++i) vectors[i] = {const_cast<uint8_t*>(pieces[i].data()), pieces[i].size()};
    msghdr message{};
    message.msg_iov = vectors;
    message.msg_iovlen = pieces.size();
    const ssize_t sent = sendmsg(fd_, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
        if (!WouldBlock(errno)) {
            Break();
            return false;
        }
        if (!mayWait || !fits) return false;
        Queue(pieces, 0);
        return true;
    }
    // Part of it is in the stream already: the rest must follow, media or not.
    if (static_cast<size_t>(sent) < total) Queue(pieces, static_cast<size_t>(sent));
    return true;
}

void RelayStream::Queue(std::span<const relay::Piece> pieces, size_t skip) {
    for (const relay::Piece piece : pieces) {
        const size_t skipped = std::min(skip, piece.size());
        queue_.insert(queue_.end(), piece.begin() + static_cast<ptrdiff_t>(skipped), piece.end());
        skip -= skipped;
    }
}

void RelayStream::Flush() {
    if (queue_.empty()) return;
    const ssize_t sent = send(fd_, queue_.data(), queue_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
        if (!WouldBlock(errno)) Break();
        return;
    }
    queue_.erase(queue_.begin(), queue_.begin() + sent);
}

std::optional<pollfd> RelayStream::Descriptor() const {
    switch (state_) {
        case State::kConnecting: return pollfd{fd_, POLLOUT, 0};
        case State::kOpen: return pollfd{fd_, static_cast<short>(POLLIN | (queue_.empty() ? 0 : POLLOUT)), 0};
        default: return std::nullopt;
    }
}

bool RelayStream::HasMessage() {
    if (held_) return true;
    std::span<const uint8_t> message;
    if (!Read(&message)) return false;
    held_ = message;
    return true;
}

bool RelayStream::Next(std::span<const uint8_t>* message) {
    if (held_) {
        *message = *held_;
        held_.reset();
        return true;
    }
    return Read(message);
}

bool RelayStream::Read(std::span<const uint8_t>* message) {
    for (int i = 0; i < kMaxReadsPerCall; ++i) {
        switch (deframer_.Next(message)) {
            case relay::StreamDeframer::Result::kMessage: return true;
            case relay::StreamDeframer::Result::kBroken: Break(); return false;
            case relay::StreamDeframer::Result::kNeedMore: break;
        }
        if (state_ != State::kOpen) return false;
        const std::span<uint8_t> space = deframer_.Space();
        const ssize_t received = recv(fd_, space.data(), space.size(), MSG_DONTWAIT);
        if (received > 0) {
            deframer_.Commit(static_cast<size_t>(received));
            continue;
        }
        // The server closed the connection, or it failed: the allocation is gone.
        if (received == 0 || !WouldBlock(errno)) Break();
        return false;
    }
    return false;
}

void RelayStream::Break() {
    state_ = State::kBroken;
    queue_.clear();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}
