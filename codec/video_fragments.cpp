#include "codec/video_fragments.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace video_fragments {

int FragmentCount(size_t frameBytes) {
    const size_t count = (frameBytes + kMaxDataBytes - 1) / kMaxDataBytes;
    return count > static_cast<size_t>(kMaxSentFragments) ? -1 : static_cast<int>(count);
}

size_t CutFragment(const uint8_t* frame, size_t frameBytes, int count, int index, uint8_t* out) {
    assert(index >= 0 && index < count && count <= kMaxSentFragments);
    const size_t offset = static_cast<size_t>(index) * kMaxDataBytes;
    const size_t bytes = std::min(kMaxDataBytes, frameBytes - offset);
    out[0] = static_cast<uint8_t>(count);
    out[1] = static_cast<uint8_t>(index);
    std::memcpy(out + kHeaderBytes, frame + offset, bytes);
    return kHeaderBytes + bytes;
}

bool ReadHeader(const uint8_t* payload, size_t length, FragmentHeader* header) {
    if (length < kHeaderBytes) return false;
    header->count = payload[0];
    header->index = payload[1];
    return true;
}

}  // namespace video_fragments
