// Latching: a player behind a translator that maps per destination reaches
// our relayed address from another port than the one the address server
// saw, and what the relay sends to the published port never reaches it.
// A relayed datagram from such a port is taken as the player's own, and
// what goes to the player is sent there, once the datagram proves whose it
// is: a greeting from the address of exactly one player, or media of an
// SSRC already heard from one player's pair. Nobody else is latched: only
// the table's addresses, only on their ports' behalf.
#pragma once

#include "transport/medium.h"
#include "transport/peer_table.h"
#include "transport/rtp/rtp_ipv4_address.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

// The pair an SSRC's media came from so far, if the session knows the SSRC.
using PairOfSsrc = std::function<std::optional<rtp::RTPIPv4Address>(uint32_t ssrc)>;

struct LatchProof {
    rtp::RTPIPv4Address pair;  // of the player proved
    bool byGreeting = false;   // a greeting only, not media of a known SSRC
};

// The pair in force of the player that the RTP `datagram`, relayed from
// `seen`, proves to be from; nothing when it proves none.
std::optional<LatchProof> PairToLatch(const PeerSnapshot& peers, Medium medium, const rtp::RTPIPv4Address& seen,
                                      std::span<const uint8_t> datagram, const PairOfSsrc& pairOfSsrc);

// The same for an RTCP compound, proved by its first sender's SSRC: the
// player's RTCP pair (one port above its RTP pair in force).
std::optional<rtp::RTPIPv4Address> RtcpPairToLatch(const PeerSnapshot& peers, Medium medium,
                                                   const rtp::RTPIPv4Address& seen, std::span<const uint8_t> datagram,
                                                   const PairOfSsrc& pairOfSsrc);

// Players' pairs and the ports they were latched at. Not locked.
class PeerLatches {
public:
    // Beyond a room's players with room to spare; the oldest goes first.
    static constexpr size_t kMaxLatches = 32;

    // A greeting proves less than media: a player the table does not hold
    // yet may share the address (behind one translator, or relayed by one
    // server). So it latches only once greetings have kept coming from that
    // port for this long while the port stayed nobody's pair: unanswered
    // greetings come every second, so the second one latches.
    static constexpr int64_t kGreetingsConfirmMs = 900;

    void Latch(const rtp::RTPIPv4Address& pair, const rtp::RTPIPv4Address& seen);
    // A greeting for `pair` from `seen`: true once that latches them.
    bool Greeted(const rtp::RTPIPv4Address& pair, const rtp::RTPIPv4Address& seen, int64_t nowMs);
    // `seen` is a player's own pair: no latch stands for it any more.
    void Forget(const rtp::RTPIPv4Address& seen);
    // The pair whose datagrams come from `seen`, when latched.
    std::optional<rtp::RTPIPv4Address> PairOf(const rtp::RTPIPv4Address& seen) const;
    // Where what is meant for `pair` goes.
    rtp::RTPIPv4Address SeenOf(const rtp::RTPIPv4Address& pair) const;

private:
    struct Latched {
        rtp::RTPIPv4Address pair;
        rtp::RTPIPv4Address seen;
    };
    struct Greeting {
        rtp::RTPIPv4Address pair;
        rtp::RTPIPv4Address seen;
        int64_t firstMs;
    };
    std::vector<Latched> latched_;
    std::vector<Greeting> greetings_;  // not latched yet
};
