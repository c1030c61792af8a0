// Collects one user's video fragments by RTP timestamp, joins complete frames
// and hands them to the user's decoder. Owns every packet it holds.
#pragma once

#include "engine/internal_interfaces.h"

#include <cstdint>
#include <memory>

class CVideoDec;

class CVideoFrameAssembler {
public:
    CVideoFrameAssembler();
    ~CVideoFrameAssembler();
    CVideoFrameAssembler(const CVideoFrameAssembler&) = delete;
    CVideoFrameAssembler& operator=(const CVideoFrameAssembler&) = delete;

    // Complete frames go to this decoder; null drops them.
    void SetDecoder(CVideoDec* decoder);
    void SetReleaser(ITavolinPacketReleaser* releaser);
    void AddPacket(rtp::RTPPacket* packet);
    void ReleaseAll();

private:
    static constexpr int kSlotCount = 16;
    static constexpr int kMaxFragments = 32;
    // Every fragment's payload opens with [count][index].
    static constexpr size_t kFragmentHeaderBytes = 2;
    static constexpr int kFrameBufferBytes = 32768;

    struct FragmentSlot {
        rtp::RTPPacket* fragments[kMaxFragments];
        uint8_t count;
        uint32_t timestamp;
        int inUse;
    };

    FragmentSlot* FindSlot(uint32_t timestamp);
    FragmentSlot* EvictOldest();
    void PurgeOlder(uint32_t timestamp);
    // Joins the slot's fragments in the frame buffer; false when they would
    // not fit. Returns the frame's length through `length`.
    bool AssembleFrame(const FragmentSlot& slot, int& length);
    void ReleaseFragments(FragmentSlot& slot);
    void Release(rtp::RTPPacket* packet);
    static void ClearSlot(FragmentSlot& slot);
    static bool IsComplete(const FragmentSlot& slot);

    CVideoDec* m_Decoder = nullptr;
    FragmentSlot m_Slots[kSlotCount];
    // Followed by the decoder's read-ahead padding, kept zero.
    std::unique_ptr<uint8_t[]> m_FrameBuffer;
    ITavolinPacketReleaser* m_Releaser = nullptr;
};
