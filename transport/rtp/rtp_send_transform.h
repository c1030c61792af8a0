// Changes what the session itself builds, once per packet, before it goes to
// any destination: every RTP packet and RTCP compound, so that all
// destinations (and the send route) get the same bytes. Raw data the session
// is handed (SendRawData) passes untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace rtp {

class RTPSendTransform {
public:
    // What a transform may add to a packet at most.
    static constexpr size_t kMaximumExtraBytes = 32;

    // The packet is the first `length` bytes of `buffer`, which has
    // kMaximumExtraBytes more; changed in place. Returns the length to send,
    // 0 to send nothing. Called under the session's send lock (RTP) or its
    // data-access lock (RTCP), so RTP and RTCP may come from two threads.
    virtual size_t Transform(bool rtp, std::span<uint8_t> buffer, size_t length) = 0;

protected:
    ~RTPSendTransform() = default;
};

}  // namespace rtp
