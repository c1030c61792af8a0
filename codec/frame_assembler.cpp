#include "codec/frame_assembler.h"

#include "codec/video_dec.h"
#include "transport/rtp/rtp_packet.h"

#include <cstring>

namespace {
// Timestamps below this, met by ones above kWrapHigh, have wrapped past
// 2^32 and count as the newer.
constexpr uint32_t kWrapLow = 100000;
constexpr uint32_t kWrapHigh = 2000000000;

// True when frame timestamp `s` was sent before `t`.
bool IsOlder(uint32_t s, uint32_t t) {
    if (s < t) return !(s < kWrapLow && t > kWrapHigh);
    return t < kWrapLow && s > kWrapHigh;
}
}  // namespace

CVideoFrameAssembler::CVideoFrameAssembler()
    : m_FrameBuffer(new uint8_t[kFrameBufferBytes + CVideoDec::kInputPaddingBytes]()) {
    for (FragmentSlot& slot : m_Slots) ClearSlot(slot);
}

CVideoFrameAssembler::~CVideoFrameAssembler() { ReleaseAll(); }

void CVideoFrameAssembler::SetDecoder(CVideoDec* decoder) { m_Decoder = decoder; }

void CVideoFrameAssembler::SetReleaser(ITavolinPacketReleaser* releaser) { m_Releaser = releaser; }

void CVideoFrameAssembler::ClearSlot(FragmentSlot& slot) {
    for (rtp::RTPPacket*& fragment : slot.fragments) fragment = nullptr;
    slot.count = 0;
    slot.timestamp = 0;
    slot.inUse = 0;
}

void CVideoFrameAssembler::Release(rtp::RTPPacket* packet) {
    if (m_Releaser) m_Releaser->DeleteVideoPacket(packet);
}

void CVideoFrameAssembler::ReleaseFragments(FragmentSlot& slot) {
    for (int i = 0; i < slot.count; ++i)
        if (slot.fragments[i]) Release(slot.fragments[i]);
}

bool CVideoFrameAssembler::IsComplete(const FragmentSlot& slot) {
    for (int i = 0; i < slot.count; ++i)
        if (!slot.fragments[i]) return false;
    return true;
}

CVideoFrameAssembler::FragmentSlot* CVideoFrameAssembler::FindSlot(uint32_t timestamp) {
    // A clear slot has timestamp 0, so it answers for timestamp 0 too.
    for (FragmentSlot& slot : m_Slots)
        if (slot.timestamp == timestamp) return &slot;
    for (FragmentSlot& slot : m_Slots)
        if (!slot.inUse) return &slot;
    return EvictOldest();
}

CVideoFrameAssembler::FragmentSlot* CVideoFrameAssembler::EvictOldest() {
    FragmentSlot* oldest = nullptr;
    for (FragmentSlot& slot : m_Slots) {
        if (!slot.inUse) continue;
        if (!oldest || IsOlder(slot.timestamp, oldest->timestamp)) oldest = &slot;
    }
    ReleaseFragments(*oldest);
    ClearSlot(*oldest);
    return oldest;
}

void CVideoFrameAssembler::PurgeOlder(uint32_t timestamp) {
    for (FragmentSlot& slot : m_Slots) {
        if (!slot.inUse || !IsOlder(slot.timestamp, timestamp)) continue;
        ReleaseFragments(slot);
        ClearSlot(slot);
    }
}

void CVideoFrameAssembler::AddPacket(rtp::RTPPacket* packet) {
    if (!packet) return;
    // Too short to carry [count][index]: nothing to file it under.
    if (packet->GetPayloadLength() < kFragmentHeaderBytes) {
        Release(packet);
        return;
    }
    const uint32_t timestamp = packet->GetTimestamp();
    const uint8_t countByte = packet->GetPayloadData()[0];
    const uint8_t index = packet->GetPayloadData()[1];

    FragmentSlot& slot = *FindSlot(timestamp);
    if (slot.count == 0) {
        slot.count = countByte;
        slot.timestamp = timestamp;
        slot.inUse = 1;
        if (slot.count > kMaxFragments) {
            Release(packet);
            ClearSlot(slot);
            return;
        }
    }
    if (index >= slot.count || slot.fragments[index]) {
        Release(packet);  // out of range, or a duplicate
        return;
    }
    slot.fragments[index] = packet;
    if (!IsComplete(slot)) return;

    int length = 0;
    const bool assembled = AssembleFrame(slot, length);
    // Done with the fragments before decoding, so a sink that empties this
    // assembler from inside the decoder's callback finds nothing to release twice.
    ReleaseFragments(slot);
    ClearSlot(slot);
    PurgeOlder(timestamp);
    if (assembled && m_Decoder) m_Decoder->Decode(m_FrameBuffer.get(), length);
}

bool CVideoFrameAssembler::AssembleFrame(const FragmentSlot& slot, int& length) {
    size_t total = 0;
    for (int i = 0; i < slot.count; ++i) {
        const rtp::RTPPacket& fragment = *slot.fragments[i];
        const size_t bytes = fragment.GetPayloadLength() - kFragmentHeaderBytes;
        if (total + bytes > kFrameBufferBytes) return false;
        std::memcpy(m_FrameBuffer.get() + total, fragment.GetPayloadData() + kFragmentHeaderBytes, bytes);
        total += bytes;
    }
    length = static_cast<int>(total);
    return true;
}

void CVideoFrameAssembler::ReleaseAll() {
    for (FragmentSlot& slot : m_Slots) {
        if (!slot.inUse) continue;
        ReleaseFragments(slot);
        ClearSlot(slot);
    }
}
