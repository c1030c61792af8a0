#include "transport/relay/stream_deframer.h"

#include "transport/relay/channel_data.h"
#include "transport/relay/relay_demux.h"
#include "transport/relay/stun_message.h"
#include "transport/rtp/rtp_byte_order.h"

#include <algorithm>
#include <cassert>

namespace relay {
namespace {
// Both kinds carry their length in bytes 2..3.
constexpr size_t kLengthFieldEnd = 4;
// At most one whole frame beside the start of the next.
constexpr size_t kMaxBufferBytes = 2 * StreamDeframer::kMaxFrameBytes;
// Space handed out at least; the buffer grows by this up to its bound.
constexpr size_t kMinSpaceBytes = 2048;
}  // namespace

std::span<uint8_t> StreamDeframer::Space() {
    if (begin_ > 0) {
        std::copy(buffer_.begin() + static_cast<ptrdiff_t>(begin_), buffer_.begin() + static_cast<ptrdiff_t>(end_),
                  buffer_.begin());
        end_ -= begin_;
        begin_ = 0;
    }
    // Next leaves less than one frame unread, so there is always room.
    if (buffer_.size() - end_ < kMinSpaceBytes) buffer_.resize(std::min(kMaxBufferBytes, end_ + kMinSpaceBytes));
    assert(end_ < buffer_.size());
    return std::span(buffer_).subspan(end_);
}

void StreamDeframer::Commit(size_t count) {
    assert(count <= buffer_.size() - end_);
    end_ += count;
}

StreamDeframer::Result StreamDeframer::Next(std::span<const uint8_t>* message) {
    if (broken_) return Result::kBroken;
    const size_t available = end_ - begin_;
    if (available < kLengthFieldEnd) return Result::kNeedMore;
    const uint8_t* start = buffer_.data() + begin_;
    const size_t length = rtp::Read16(start + 2);
    size_t messageBytes = 0;
    size_t frameBytes = 0;
    switch (Classify(start[0])) {
        case DatagramKind::kStun:
            if (length % 4 != 0) break;
            messageBytes = frameBytes = kHeaderBytes + length;
            break;
        case DatagramKind::kChannelData:
            messageBytes = kChannelDataHeaderBytes + length;
            frameBytes = PaddedLength(messageBytes);
            break;
        default: break;
    }
    if (frameBytes == 0) {
        broken_ = true;
        return Result::kBroken;
    }
    if (available < frameBytes) return Result::kNeedMore;
    *message = std::span<const uint8_t>(start, messageBytes);
    begin_ += frameBytes;
    return Result::kMessage;
}

}  // namespace relay
