#include "codec/frame_assembler.h"

#include "codec/video_dec.h"
#include <cassert>
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

using namespace video_fragments;

CVideoFrameAssembler::CVideoFrameAssembler()
    : m_FrameBuffer(new uint8_t[kMaxJoinedFrameBytes + CVideoDec::kInputPaddingBytes]()) {
    for (FragmentSlot& slot : m_Slots) ClearSlot(slot);
}

CVideoFrameAssembler::~CVideoFrameAssembler() { ReleaseAll(); }

void CVideoFrameAssembler::SetDecoder(CVideoDec* decoder) { m_Decoder = decoder; }

void CVideoFrameAssembler::SetReleaser(IFragmentReleaser* releaser) { m_Releaser = releaser; }

void CVideoFrameAssembler::ClearSlot(FragmentSlot& slot) {
    for (ReceivedFragment& fragment : slot.fragments) fragment = ReceivedFragment{};
    slot.count = 0;
    slot.timestamp = 0;
    slot.inUse = 0;
}

void CVideoFrameAssembler::Release(void* token) {
    if (m_Releaser) m_Releaser->ReleaseFragment(token);
}

void CVideoFrameAssembler::ReleaseFragments(FragmentSlot& slot) {
    for (int i = 0; i < slot.count; ++i)
        if (slot.fragments[i].token) Release(slot.fragments[i].token);
}

bool CVideoFrameAssembler::IsComplete(const FragmentSlot& slot) {
    for (int i = 0; i < slot.count; ++i)
        if (!slot.fragments[i].token) return false;
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
    // Only called with every slot in use.
    assert(oldest);
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

void CVideoFrameAssembler::AddPacket(const ReceivedFragment& fragment) {
    assert(fragment.token);
    FragmentHeader header;
    // Too short to carry [count][index]: nothing to file it under.
    if (!ReadHeader(fragment.payload, fragment.length, &header)) {
        Release(fragment.token);
        return;
    }
    const uint32_t timestamp = fragment.timestamp;

    FragmentSlot& slot = *FindSlot(timestamp);
    if (slot.count == 0) {
        slot.count = header.count;
        slot.timestamp = timestamp;
        slot.inUse = 1;
        if (slot.count > kMaxJoinedFragments) {
            Release(fragment.token);
            ClearSlot(slot);
            return;
        }
    }
    if (header.index >= slot.count || slot.fragments[header.index].token) {
        Release(fragment.token);  // out of range, or a duplicate
        return;
    }
    slot.fragments[header.index] = fragment;
    if (IsComplete(slot)) ++m_FramesCompleted;
    if (!m_HasNewest || IsOlder(m_Newest, timestamp)) m_Newest = timestamp;
    m_HasNewest = true;
    DecodeReady();
}

CVideoFrameAssembler::FragmentSlot* CVideoFrameAssembler::OldestComplete() {
    FragmentSlot* oldest = nullptr;
    for (FragmentSlot& slot : m_Slots) {
        if (!slot.inUse || !IsComplete(slot)) continue;
        if (!oldest || IsOlder(slot.timestamp, oldest->timestamp)) oldest = &slot;
    }
    return oldest;
}

void CVideoFrameAssembler::DecodeReady() {
    while (FragmentSlot* slot = OldestComplete()) {
        const uint32_t timestamp = slot->timestamp;
        int length = 0;
        const bool assembled = AssembleFrame(*slot, length);
        if (ShouldWaitFor(*slot, assembled, length)) return;
        // Done with the fragments before decoding, so a sink that empties
        // this assembler from inside the decoder's callback finds nothing to
        // release twice.
        ReleaseFragments(*slot);
        ClearSlot(*slot);
        PurgeOlder(timestamp);
        if (assembled && TakeInOrder(timestamp) && m_Decoder) m_Decoder->Decode(m_FrameBuffer.get(), length);
    }
}

bool CVideoFrameAssembler::ShouldWaitFor(const FragmentSlot& slot, bool assembled, int length) const {
    if (!m_HasDecoded || !assembled || !IsOlder(m_LastDecoded, slot.timestamp)) return false;
    if (slot.timestamp - m_LastDecoded == kTimestampPerFrame) return false;
    if (CVideoDec::IsKeyFrame(m_FrameBuffer.get(), static_cast<size_t>(length))) return false;
    return m_Newest - m_LastDecoded <= (kHoldFrames + 1) * kTimestampPerFrame;
}

bool CVideoFrameAssembler::IsStalled() const {
    return m_HasDecoded && m_HasNewest && IsOlder(m_LastDecoded, m_Newest) &&
           m_Newest - m_LastDecoded > (kStallFrames + 1) * kTimestampPerFrame;
}

bool CVideoFrameAssembler::TakeInOrder(uint32_t timestamp) {
    if (m_HasDecoded && (timestamp == m_LastDecoded || IsOlder(timestamp, m_LastDecoded))) return false;
    if (m_HasDecoded && timestamp - m_LastDecoded != kTimestampPerFrame && m_Decoder) m_Decoder->MarkReferenceLost();
    m_HasDecoded = true;
    m_LastDecoded = timestamp;
    return true;
}

bool CVideoFrameAssembler::AssembleFrame(const FragmentSlot& slot, int& length) {
    size_t total = 0;
    for (int i = 0; i < slot.count; ++i) {
        const ReceivedFragment& fragment = slot.fragments[i];
        const size_t bytes = FragmentDataLength(fragment.length);
        if (total + bytes > kMaxJoinedFrameBytes) return false;
        std::memcpy(m_FrameBuffer.get() + total, FragmentData(fragment.payload), bytes);
        total += bytes;
    }
    length = static_cast<int>(total);
    return true;
}

void CVideoFrameAssembler::ReleaseAll() {
    m_HasDecoded = false;
    m_HasNewest = false;
    for (FragmentSlot& slot : m_Slots) {
        if (!slot.inUse) continue;
        ReleaseFragments(slot);
        ClearSlot(slot);
    }
}
