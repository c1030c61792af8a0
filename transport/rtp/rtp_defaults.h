// Every default size, rate, fraction and time of the RTP layer, with units.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rtp {

// Packets.
constexpr size_t kDefaultMaximumPacketBytes = 1400;
constexpr size_t kMinimumMaximumPacketBytes = 64;
constexpr size_t kMaximumDatagramBytes = 65535;
// A pooled packet gives back a buffer larger than this when it returns: such
// packets are rare, and a burst of them must not stay resident.
constexpr size_t kLargestPooledBufferBytes = kDefaultMaximumPacketBytes;
constexpr size_t kRTPFixedHeaderBytes = 12;
constexpr uint8_t kMaximumPayloadType = 127;
// Payload types 72..76 would read as RTCP packet types 200..204 with the
// marker bit set, so RTP never uses them (RFC 3550 A.1, RFC 5761 4).
constexpr bool IsRTCPConflictPayloadType(uint8_t payloadType) { return payloadType >= 72 && payloadType <= 76; }
// Added to every RTCP packet size for the average of RFC 3550 A.7 (IPv4 + UDP).
constexpr size_t kIPv4UDPOverheadBytes = 28;
constexpr size_t kMaximumBYEReasonBytes = 255;

// Sockets.
constexpr uint16_t kDefaultPortBase = 5000;
constexpr uint32_t kDefaultBindAddress = 0;  // any interface
constexpr uint8_t kDefaultMulticastTTL = 1;
constexpr int kDefaultSocketBufferBytes = 32768;

// RTCP bandwidth and timing (RFC 3550 section 6.2 and A.7).
constexpr double kDefaultSessionBandwidthBytesPerSecond = 10000.0;
constexpr double kDefaultControlTrafficFraction = 0.05;
constexpr double kDefaultSenderControlFraction = 0.25;
constexpr double kDefaultMinimumRTCPIntervalSeconds = 5.0;
// Randomisation factor range and its compensation e - 3/2 (A.7).
constexpr double kIntervalRandomLow = 0.5;
constexpr double kIntervalRandomHigh = 1.5;
constexpr double kIntervalCompensation = 2.71828 - 1.5;
// Below this many members a BYE may be sent at once (section 6.3.7).
constexpr int kImmediateBYEMemberLimit = 50;

// Time-out multipliers, in RTCP intervals (section 6.3.5).
constexpr double kDefaultSenderTimeoutMultiplier = 2.0;
constexpr double kDefaultMemberTimeoutMultiplier = 5.0;
constexpr double kDefaultBYETimeoutMultiplier = 1.0;
constexpr double kDefaultCollisionTimeoutMultiplier = 10.0;
constexpr double kDefaultNoteTimeoutMultiplier = 25.0;

// Source validation (A.1).
constexpr int kMinSequential = 2;
constexpr uint16_t kMaxDropout = 3000;
constexpr uint16_t kMaxMisorder = 100;
constexpr uint32_t kSequenceModulo = 1u << 16;

// Source table. Validated sources (members) and the rest (in probation or
// heard only in RTCP) have separate bounds, so that SSRCs anyone can make up
// never keep a validated sender out. Beyond the bound further validated
// sources stay in probation until some time out; a new unvalidated one
// replaces the oldest unvalidated.
constexpr size_t kMaximumValidatedSources = 1024;
constexpr size_t kMaximumUnvalidatedSources = 256;
// Addresses remembered from SSRC collisions (RFC 3550 8.2), least recently
// seen forgotten first.
constexpr size_t kMaximumCollisionEntries = 1024;

// Poll thread: the longest single wait, so a stopped clock cannot stall it.
constexpr double kMaximumPollWaitSeconds = 1.0;
// Datagrams handled per poll step before RTCP and time-outs get their turn.
constexpr int kMaximumDatagramsPerPoll = 256;

// Difference between the NTP epoch (1900) and the Unix epoch (1970), seconds.
constexpr double kNTPEpochOffsetSeconds = 2208988800.0;

}  // namespace rtp
