#include "tests/codec/support/video_fragments.h"

#include "codec/video_fragments.h"

#include <cstring>

namespace codec_test {

std::vector<Payload> CutIntoFragments(const uint8_t* frame, int length) {
    const auto frameBytes = static_cast<size_t>(length);
    const int count = video_fragments::FragmentCount(frameBytes);
    std::vector<Payload> fragments;
    for (int index = 0; index < count; ++index) {
        Payload payload(video_fragments::kMaxFragmentBytes);
        payload.resize(video_fragments::CutFragment(frame, frameBytes, count, index, payload.data()));
        fragments.push_back(std::move(payload));
    }
    return fragments;
}

std::vector<Payload> CutIntoFragments(const std::vector<uint8_t>& frame) {
    return CutIntoFragments(frame.data(), static_cast<int>(frame.size()));
}

std::vector<Payload> SplitIntoFragments(const std::vector<uint8_t>& frame, int count) {
    std::vector<Payload> fragments;
    const size_t length = frame.size();
    for (int index = 0; index < count; ++index) {
        const size_t begin = length * static_cast<size_t>(index) / static_cast<size_t>(count);
        const size_t end = length * static_cast<size_t>(index + 1) / static_cast<size_t>(count);
        Payload payload{static_cast<uint8_t>(count), static_cast<uint8_t>(index)};
        payload.insert(payload.end(), frame.begin() + static_cast<std::ptrdiff_t>(begin),
                       frame.begin() + static_cast<std::ptrdiff_t>(end));
        fragments.push_back(std::move(payload));
    }
    return fragments;
}

}  // namespace codec_test
