// Collects one user's video fragments by RTP timestamp, joins complete frames
// and hands them to the user's decoder in order: a frame older than the last
// one decoded is dropped. A complete frame that does not follow the last one
// decoded waits (up to kHoldFrames frame steps of newer traffic) for the
// frames between, whose missing packets may still be resent; a key frame
// needs no reference and goes at once. A frame decoded past a gap tells the
// decoder its reference is gone. Owns every fragment it holds until it gives
// it back through its releaser, exactly once.
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
    // The frame due next has been missing while newer fragments ran
    // kStallFrames frame steps ahead: a key frame would now end the wait
    // sooner than further resends may.
    bool IsStalled() const;
    // Frames whose every fragment arrived, shown or not.
    uint64_t FramesCompleted() const { return m_FramesCompleted; }
    void ResetCount() { m_FramesCompleted = 0; }

private:
    static constexpr int kSlotCount = 16;
    // How far (in frame steps) the newest fragment may run ahead of the next
    // frame due before that frame is given up: about half a second at 15
    // frames per second, time for two asks and resends over a 100 ms round
    // trip (a lost last fragment is noticed only when the next frame comes).
    static constexpr uint32_t kHoldFrames = 8;
    static constexpr uint32_t kStallFrames = 4;

    struct FragmentSlot {
        ReceivedFragment fragments[video_fragments::kMaxJoinedFragments];
        uint8_t count;
        uint32_t timestamp;
        int inUse;
    };

    FragmentSlot* FindSlot(uint32_t timestamp);
    FragmentSlot* OldestComplete();
    // Decodes, in timestamp order, every complete frame that need not wait.
    void DecodeReady();
    // Whether the frames between the last decoded one and the complete frame
    // `slot` (assembled in the frame buffer) are still worth waiting for.
    bool ShouldWaitFor(const FragmentSlot& slot, bool assembled, int length) const;
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
    bool m_HasNewest = false;
    uint32_t m_Newest = 0;  // the newest timestamp of any fragment
    FragmentSlot m_Slots[kSlotCount];
    // Followed by the decoder's read-ahead padding, kept zero.
    std::unique_ptr<uint8_t[]> m_FrameBuffer;
    IFragmentReleaser* m_Releaser = nullptr;
    uint64_t m_FramesCompleted = 0;
};
