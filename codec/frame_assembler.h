// Collects one user's video fragments by RTP timestamp, joins complete frames
// and hands them to the user's decoder in order: a frame older than the last
// one decoded is dropped, and a frame that does not follow the last one
// (a frame between them was lost or purged) tells the decoder its reference
// is gone. Owns every fragment it holds until it gives it back through its
// releaser, exactly once.
#pragma once

#include "codec/video_fragments.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class CVideoDec;

// A received fragment as the assembler sees it. `token` (never null) names
// the packet behind the payload; the payload stays valid until the token is
// given back.
struct ReceivedFragment {
    const uint8_t* payload;
    size_t length;
    uint32_t timestamp;
    void* token;
};

// Takes back the packets behind fragments the assembler is done with.
struct IFragmentReleaser {
    virtual void ReleaseFragment(void* token) = 0;
};

class CVideoFrameAssembler {
public:
    CVideoFrameAssembler();
    ~CVideoFrameAssembler();
    CVideoFrameAssembler(const CVideoFrameAssembler&) = delete;
    CVideoFrameAssembler& operator=(const CVideoFrameAssembler&) = delete;

    // Complete frames go to this decoder; null drops them.
    void SetDecoder(CVideoDec* decoder);
    void SetReleaser(IFragmentReleaser* releaser);
    void AddPacket(const ReceivedFragment& fragment);
    void ReleaseAll();

private:
    static constexpr int kSlotCount = 16;

    struct FragmentSlot {
        ReceivedFragment fragments[video_fragments::kMaxJoinedFragments];
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
    void Release(void* token);
    static void ClearSlot(FragmentSlot& slot);
    static bool IsComplete(const FragmentSlot& slot);

    // Whether a complete frame may be decoded, and what that says of the
    // decoder's reference picture.
    bool TakeInOrder(uint32_t timestamp);

    CVideoDec* m_Decoder = nullptr;
    bool m_HasDecoded = false;
    uint32_t m_LastDecoded = 0;
    FragmentSlot m_Slots[kSlotCount];
    // Followed by the decoder's read-ahead padding, kept zero.
    std::unique_ptr<uint8_t[]> m_FrameBuffer;
    IFragmentReleaser* m_Releaser = nullptr;
};
