// A few SSRCs in the order they came, in place: bounded so that nobody can
// grow a key's streams without limit.
#pragma once

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>

namespace srtp {

template <size_t Capacity>
class SsrcSet {
public:
    bool Contains(uint32_t ssrc) const {
        return std::find(ssrcs_.begin(), ssrcs_.begin() + size_, ssrc) != ssrcs_.begin() + size_;
    }
    bool Full() const { return size_ == Capacity; }
    bool Empty() const { return size_ == 0; }
    uint32_t Last() const {
        assert(!Empty());
        return ssrcs_[size_ - 1];
    }
    void Add(uint32_t ssrc) {
        assert(!Full() && !Contains(ssrc));
        ssrcs_[size_++] = ssrc;
    }

private:
    std::array<uint32_t, Capacity> ssrcs_{};
    size_t size_ = 0;
};

}  // namespace srtp
