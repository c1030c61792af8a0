// Every fixed value of the transmission, with its unit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace transmission {

// Peer table.
constexpr int kMaxPeers = 16;
constexpr uint16_t kUnknownPort = 65535;
constexpr uint32_t kNoAddress = 0;
constexpr uint32_t kBroadcastAddress = 0xFFFFFFFF;  // also means "no address"

// Port bases: even, 11000..13998; RTCP on the next port.
constexpr int kFirstPortBase = 11000;
constexpr int kPortBaseChoices = 1500;

// RTP payload types, timestamp units (seconds per tick) and increments (ticks).
constexpr uint8_t kVoicePayloadType = 102;
constexpr uint8_t kVideoPayloadType = 34;
constexpr uint8_t kHelloPayloadType = 1;
constexpr uint8_t kTransPayloadType = 10;
constexpr double kVoiceTimestampUnitSeconds = 1.0 / 8000;
constexpr double kVideoTimestampUnitSeconds = 1.0 / 90000;
constexpr uint32_t kVoiceTimestampIncrement = 240;   // 30 ms
constexpr uint32_t kVideoTimestampIncrement = 6000;  // once per frame
constexpr size_t kVideoMaximumPacketBytes = 32768;
// IPv4 type of service: DSCP EF (46) for voice, AF41 (34) for video.
constexpr int kVoiceTypeOfService = 0xB8;
constexpr int kVideoTypeOfService = 0x88;
// The largest datagrams a session takes in. Voice carries 63-byte packets,
// video at most 550, the address server's answers and the greetings less;
// the rest is room for what other RTP stacks add (CSRCs, extensions) and for
// RTCP compounds of a full room. Longer datagrams are dropped unread.
constexpr size_t kVoiceLargestRtpBytes = 256;
constexpr size_t kVideoLargestRtpBytes = 1500;
constexpr size_t kLargestRtcpBytes = 1500;

// Control payloads, without terminator.
constexpr char kHelloText[] = "HI";
constexpr char kHelloAnswerText[] = "REHI";
constexpr char kTransText[] = "TRANS";
constexpr char kByeReason[] = "Close";
constexpr size_t kControlPrefixBytes = 2;  // receivers compare "HI" / "RE" only

// Picture loss indications go to one peer at most this often while its
// video stays frozen here.
constexpr double kPictureLossSpacingSeconds = 0.2;

// Retransmission of lost video packets (generic NACK).
// The sender keeps what it sent for this long, in at most this many packets
// (a second of video is 15 frames of 1..3 fragments, key frames a few more).
constexpr double kSentHistorySeconds = 1.0;
constexpr size_t kSentHistoryPackets = 256;
// What a peer may have sent again within the history's second: this share of
// the video bytes sent in that second. A quarter left requests refused at
// 10 % loss over a 100 ms round trip (reordering makes some asks early).
constexpr double kRetransmissionBudgetShare = 0.5;
// The receiver asks for a missing number once it has been missing for a few
// times the source's interarrival jitter (packets overtaken on the way
// arrive meanwhile; asking for them would spend the sender's budget on
// duplicates), within bounds; asks again after a round trip (times the
// factor, plus the jitter's spread, with a floor; an assumed round trip until
// reports tell), and gives up after a few asks or once the number is as old
// as the sender's history.
constexpr double kNackReorderJitters = 3.0;
constexpr double kNackReorderWaitFloorSeconds = 0.01;
constexpr double kNackReorderWaitCapSeconds = 0.06;
constexpr double kNackRetryRoundTrips = 1.2;
constexpr double kNackRetryJitters = 2.0;
constexpr double kNackRetryFloorSeconds = 0.05;
constexpr double kAssumedRoundTripSeconds = 0.1;
constexpr int kMaxNackTries = 3;
constexpr double kNackGiveUpSeconds = kSentHistorySeconds;
// A jump over more numbers than this is not asked for (the picture loss
// indication deals with it); at most this many numbers are tracked per source.
constexpr int kMaxNackGap = 64;
constexpr size_t kMaxTrackedMissing = 128;
// NACK compounds to one peer at most this often; sources tracked at most.
constexpr double kNackSpacingSeconds = 0.02;
constexpr size_t kMaxNackSources = 32;

// Greeting rules, in GetTickCount milliseconds.
constexpr uint32_t kLocalFallbackAfterMs = 4000;
constexpr uint32_t kHelloGiveUpAfterMs = 30000;

// Received packets waiting per medium; matches the window's posted-message
// quota, beyond which the notifying posts fail anyway.
constexpr size_t kReceiveQueueLimit = 10000;

}  // namespace transmission
