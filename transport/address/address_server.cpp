#include "transport/address/address_server.h"

#include "transport/address/address_datagram.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr size_t kMaxDatagramBytes = 65535;
// Datagrams answered per PollStep before the caller gets control back, so a
// flood cannot keep Stop from being noticed.
constexpr int kMaxDatagramsPerStep = 1024;

// Room for one IP_PKTINFO control message.
union PacketInfoControl {
    char bytes[CMSG_SPACE(sizeof(in_pktinfo))];
    cmsghdr align;
};

// The local address a datagram arrived at, from its IP_PKTINFO; null when absent.
const in_addr* ArrivalAddress(msghdr& message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
            return &reinterpret_cast<const in_pktinfo*>(CMSG_DATA(c))->ipi_spec_dst;
    }
    return nullptr;
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

CAddressServer::~CAddressServer() { Close(); }

bool CAddressServer::Open(uint32_t bindAddress, uint16_t port, uint32_t answersPerSecond) {
    Close();
    budget_ = AnswerBudget(answersPerSecond);
    socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (socket_ < 0 || wakeFd_ < 0) {
        Close();
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(bindAddress);
    local.sin_port = htons(port);
    const int on = 1;
    if (setsockopt(socket_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
        bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        Close();
        return false;
    }
    socklen_t length = sizeof local;
    getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length);
    port_ = ntohs(local.sin_port);
    buffer_.resize(kMaxDatagramBytes);
    return true;
}

void CAddressServer::Close() {
    if (socket_ >= 0) close(socket_);
    if (wakeFd_ >= 0) close(wakeFd_);
    socket_ = wakeFd_ = -1;
    port_ = 0;
}

void CAddressServer::Wake() {
    if (wakeFd_ < 0) return;
    const uint64_t one = 1;
    // A full counter still wakes the poll; nothing to handle.
    [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof one);
}

bool CAddressServer::PollStep(int timeoutMs) {
    if (socket_ < 0) return false;
    pollfd fds[2] = {{socket_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) < 0) return errno == EINTR;
    if (fds[1].revents & POLLIN) {
        uint64_t count;
        [[maybe_unused]] ssize_t got = read(wakeFd_, &count, sizeof count);
    }
    for (int i = 0; i < kMaxDatagramsPerStep; ++i) {
        sockaddr_in sender{};
        iovec data{buffer_.data(), buffer_.size()};
        PacketInfoControl control;
        msghdr message{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof sender;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control.bytes;
        message.msg_controllen = sizeof control.bytes;
        const ssize_t received = recvmsg(socket_, &message, 0);
        if (received < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (message.msg_namelen != sizeof sender || sender.sin_family != AF_INET) {
            rejects_.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        HandleDatagram(buffer_.data(), static_cast<size_t>(received), sender, ArrivalAddress(message));
    }
    return true;
}

void CAddressServer::HandleDatagram(uint8_t* data, size_t length, const sockaddr_in& sender,
                                    const in_addr* localAddress) {
    address_exchange::Datagram datagram;
    if (!address_exchange::ParseDatagram(data, length, &datagram) || !address_exchange::IsAddressRequest(datagram)) {
        rejects_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    requests_.fetch_add(1, std::memory_order_relaxed);
    if (!budget_.TrySpend(ntohl(sender.sin_addr.s_addr), ntohs(sender.sin_port), NowMs())) {
        limited_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const std::vector<uint8_t> reply =
        address_exchange::BuildAddressReply({ntohl(sender.sin_addr.s_addr), ntohs(sender.sin_port)});
    if (SendReply(reply, sender, localAddress)) replies_.fetch_add(1, std::memory_order_relaxed);
}

bool CAddressServer::SendReply(const std::vector<uint8_t>& reply, const sockaddr_in& to, const in_addr* localAddress) {
    iovec data{const_cast<uint8_t*>(reply.data()), reply.size()};
    PacketInfoControl control{};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in*>(&to);
    message.msg_namelen = sizeof to;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    if (localAddress) {
        message.msg_control = control.bytes;
        message.msg_controllen = sizeof control.bytes;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst = *localAddress;  // interface left to the route
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    return sendmsg(socket_, &message, 0) == static_cast<ssize_t>(reply.size());
}

AddressServerCounters CAddressServer::Counters() const {
    AddressServerCounters counters;
    counters.requests = requests_.load(std::memory_order_relaxed);
    counters.replies = replies_.load(std::memory_order_relaxed);
    counters.rejects = rejects_.load(std::memory_order_relaxed);
    counters.limited = limited_.load(std::memory_order_relaxed);
    return counters;
}

CAddressServerThread::~CAddressServerThread() { Stop(); }

bool CAddressServerThread::Start(uint32_t bindAddress, uint16_t port, uint32_t answersPerSecond) {
    Stop();
    if (!server_.Open(bindAddress, port, answersPerSecond)) return false;
    stopping_ = false;
    thread_ = std::thread([this] {
        while (!stopping_.load() && server_.PollStep(-1)) {
        }
    });
    return true;
}

void CAddressServerThread::Stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    server_.Wake();
    thread_.join();
    server_.Close();
}
