// The public-address server: answers every valid scrambled request with the
// address and port the request came from, sent back from the socket it
// arrived on and from the address it was sent to (a server bound to every
// interface would otherwise answer from whichever address the route picks,
// and the engine ignores replies from any address but the one it asked).
// Requests are answered within an AnswerBudget, so that requests with a
// forged source can neither turn the server into an amplifier nor keep an
// address's own engines from their answers.
// Used by tools/addrd, by tests and by in-process demos.
#pragma once

#include "transport/address/answer_budget.h"

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

struct in_addr;
struct sockaddr_in;

struct AddressServerCounters {
    uint64_t requests = 0;  // valid requests received
    uint64_t replies = 0;   // answers handed to the socket
    uint64_t rejects = 0;   // datagrams that were not valid requests
    uint64_t limited = 0;   // valid requests left unanswered by the AnswerBudget
};

class CAddressServer {
public:
    CAddressServer() = default;
    ~CAddressServer();
    CAddressServer(const CAddressServer&) = delete;
    CAddressServer& operator=(const CAddressServer&) = delete;

    // Binds the UDP socket; address and port in host order, port 0 picks a
    // free port; answersPerSecond per source address (see AnswerBudget).
    // False when the socket cannot be opened or bound.
    bool Open(uint32_t bindAddress, uint16_t port, uint32_t answersPerSecond = AnswerBudget::kDefaultPerSecond);
    void Close();
    uint16_t Port() const { return port_; }

    // Waits up to timeoutMs (-1: no limit) for datagrams or Wake, then answers
    // every datagram waiting. False when the socket is not open or fails.
    bool PollStep(int timeoutMs);
    // Makes a waiting PollStep return. Async-signal-safe.
    void Wake();

    AddressServerCounters Counters() const;

private:
    void HandleDatagram(uint8_t* data, size_t length, const sockaddr_in& sender, const in_addr* localAddress);
    // Sends from localAddress when known, else as the routing table picks.
    bool SendReply(const std::vector<uint8_t>& reply, const sockaddr_in& to, const in_addr* localAddress);

    AnswerBudget budget_;
    std::vector<uint8_t> buffer_;
    int socket_ = -1;
    int wakeFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<uint64_t> requests_{0};
    std::atomic<uint64_t> replies_{0};
    std::atomic<uint64_t> rejects_{0};
    std::atomic<uint64_t> limited_{0};
};

// Runs a server on its own thread until Stop or destruction.
class CAddressServerThread {
public:
    CAddressServerThread() = default;
    ~CAddressServerThread();
    CAddressServerThread(const CAddressServerThread&) = delete;
    CAddressServerThread& operator=(const CAddressServerThread&) = delete;

    bool Start(uint32_t bindAddress, uint16_t port, uint32_t answersPerSecond = AnswerBudget::kDefaultPerSecond);
    void Stop();
    uint16_t Port() const { return server_.Port(); }
    AddressServerCounters Counters() const { return server_.Counters(); }

private:
    CAddressServer server_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
};
