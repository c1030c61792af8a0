#include "transport/rtp/rtp_packet_pool.h"

#include "transport/rtp/rtp_defaults.h"

#include <atomic>

namespace rtp {
namespace {
std::atomic<uint64_t> g_acquired{0};
std::atomic<uint64_t> g_released{0};
}  // namespace

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
    g_acquired.fetch_add(1, std::memory_order_relaxed);
    return packet;
}

bool RTPPacketPool::Release(RTPPacket* packet) {
    if (!packet || packet->pool_ != this) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (packet->inPool_) return false;
    if (packet->buffer_.capacity() > kLargestPooledBufferBytes) std::vector<uint8_t>().swap(packet->buffer_);
    packet->inPool_ = true;
    packet->next = freeList_;
    freeList_ = packet;
    --inUse_;
    g_released.fetch_add(1, std::memory_order_relaxed);
    return true;
}

size_t RTPPacketPool::GetSize() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return storage_.size();
}

RTPPacketPool::Totals RTPPacketPool::ProcessTotals() { return Totals{g_acquired.load(), g_released.load()}; }

size_t RTPPacketPool::GetInUse() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return inUse_;
}

size_t RTPPacketPool::GetBufferBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t bytes = 0;
    for (const auto& packet : storage_) bytes += packet->buffer_.capacity();
    return bytes;
}

}  // namespace rtp
