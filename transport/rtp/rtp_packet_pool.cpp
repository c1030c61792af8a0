#include "transport/rtp/rtp_packet_pool.h"

namespace rtp {

RTPPacket* RTPPacketPool::Acquire() {
    std::lock_guard<std::mutex> lock(mutex_);
    RTPPacket* packet = freeList_;
    if (packet) {
        freeList_ = packet->next;
    } else {
        storage_.push_back(std::make_unique<RTPPacket>());
        packet = storage_.back().get();
        packet->pool_ = this;
    }
    packet->next = nullptr;
    packet->inPool_ = false;
    ++inUse_;
    return packet;
}

bool RTPPacketPool::Release(RTPPacket* packet) {
    if (!packet || packet->pool_ != this) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (packet->inPool_) return false;
    packet->inPool_ = true;
    packet->next = freeList_;
    freeList_ = packet;
    --inUse_;
    return true;
}

size_t RTPPacketPool::GetSize() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return storage_.size();
}

size_t RTPPacketPool::GetInUse() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return inUse_;
}

}  // namespace rtp
