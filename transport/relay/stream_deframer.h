// Cuts the byte stream of a relay connection over TCP into the messages it
// carries, delimited by their own lengths: a STUN message is its 20-byte
// header and the length in it; ChannelData is its 4-byte header, the length
// in it and padding up to 4 bytes. Reads may end anywhere, mid-header
// included. A first byte of neither kind means the stream is out of step for
// good: the connection has to be dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace relay {

class StreamDeframer {
public:
    // The longest frame: ChannelData of 0xFFFF bytes and its padding.
    static constexpr size_t kMaxFrameBytes = 4 + 0x10000;

    // Where the next read from the stream goes, never empty once Next has
    // been called until it needed more; then Commit the count read. Spans
    // from Next are invalid after this.
    std::span<uint8_t> Space();
    void Commit(size_t count);

    enum class Result { kMessage, kNeedMore, kBroken };
    // The next whole message (ChannelData without its padding), valid until
    // the next call of Space.
    Result Next(std::span<const uint8_t>* message);

private:
    std::vector<uint8_t> buffer_;  // grows with the frames, to two at most
    size_t begin_ = 0;
    size_t end_ = 0;
    bool broken_ = false;
};

}  // namespace relay
