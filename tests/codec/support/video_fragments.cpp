#include "tests/codec/support/video_fragments.h"

#include <algorithm>
#include <cstring>

namespace codec_test {
namespace {
constexpr int kFragmentHeaderBytes = 2;  // [count][index]

Payload Fragment(int count, int index, const uint8_t* data, int bytes) {
    Payload payload(kFragmentHeaderBytes + bytes);
    payload[0] = static_cast<uint8_t>(count);
    payload[1] = static_cast<uint8_t>(index);
    if (bytes > 0) std::memcpy(payload.data() + kFragmentHeaderBytes, data, static_cast<size_t>(bytes));
    return payload;
}
}  // namespace

std::vector<Payload> CutIntoFragments(const uint8_t* frame, int length) {
    const int count = (length + kFragmentDataBytes - 1) / kFragmentDataBytes;
    std::vector<Payload> fragments;
    for (int index = 0; index < count; ++index) {
        const int offset = index * kFragmentDataBytes;
        fragments.push_back(Fragment(count, index, frame + offset, std::min(kFragmentDataBytes, length - offset)));
    }
    return fragments;
}

std::vector<Payload> CutIntoFragments(const std::vector<uint8_t>& frame) {
    return CutIntoFragments(frame.data(), static_cast<int>(frame.size()));
}

std::vector<Payload> SplitIntoFragments(const std::vector<uint8_t>& frame, int count) {
    std::vector<Payload> fragments;
    const int length = static_cast<int>(frame.size());
    for (int index = 0; index < count; ++index) {
        const int begin = length * index / count;
        const int end = length * (index + 1) / count;
        fragments.push_back(Fragment(count, index, frame.data() + begin, end - begin));
    }
    return fragments;
}

}  // namespace codec_test
