// Reassembly of video fragments: which frames reach the decoder, which
// packets are dropped, and that every packet is given back exactly once.
#include "codec/frame_assembler.h"
#include "codec/video_dec.h"
#include "tests/codec/support/counting_packet_releaser.h"
#include "tests/codec/support/engine_policy_encoder.h"
#include "tests/codec/support/recording_sinks.h"
#include "tests/codec/support/video_fragments.h"

#include <gtest/gtest.h>

#include <optional>

namespace codec_test {
namespace {

constexpr uint32_t kJustBeforeWrap = 4294960000u;
constexpr uint32_t kJustAfterWrap = 5000;

class FrameAssemblerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A new encoder starts with a key frame, which decodes on its own.
        for (int n = 0; n < 3; ++n) {
            EnginePolicyEncoder encoder;
            keyFrames_.push_back(encoder.EncodeMoving(n * 10, 1)[0].bytes);
        }
    }

    void SetUp() override {
        decoder.Open(kVideoWidth, kVideoHeight, &pictures);
        InitCodecLibrary();
        ASSERT_TRUE(decoder.CreateDecoder());
        assembler.emplace();
        assembler->SetDecoder(&decoder);
        assembler->SetReleaser(&releaser);
    }

    void TearDown() override {
        assembler.reset();  // the destructor gives back whatever is still held
        EXPECT_TRUE(releaser.AllReleasedOnce())
            << releaser.Unreleased() << " unreleased, " << releaser.Faults() << " faults";
    }

    // Returns the token of the packet behind the fragment.
    void* Add(uint32_t timestamp, const Payload& payload) {
        const ReceivedFragment fragment = releaser.Make(timestamp, payload);
        assembler->AddPacket(fragment);
        return fragment.token;
    }
    // Adds the fragments of `fragments` at the given indices, in that order.
    std::vector<void*> AddFragments(uint32_t timestamp, const std::vector<Payload>& fragments,
                                    std::initializer_list<int> indices) {
        std::vector<void*> added;
        for (int index : indices) added.push_back(Add(timestamp, fragments[index]));
        return added;
    }
    // Opens a frame of two fragments that never completes.
    void* AddIncompleteFrame(uint32_t timestamp) { return Add(timestamp, Payload{2, 0, 0xAA}); }
    size_t Decoded() const { return pictures.pictures.size(); }

    static inline std::vector<std::vector<uint8_t>> keyFrames_;
    RecordingFrameSink pictures;
    CVideoDec decoder;
    CountingPacketReleaser releaser;
    std::optional<CVideoFrameAssembler> assembler;
};

TEST_F(FrameAssemblerTest, OneFragmentFrameIsDecodedAtOnce) {
    std::vector<Payload> single = SplitIntoFragments(keyFrames_[0], 1);
    void* packet = Add(6000, single[0]);
    ASSERT_EQ(Decoded(), 1u);
    EXPECT_EQ(pictures.consumedCounts[0], static_cast<int>(keyFrames_[0].size()));
    EXPECT_EQ(releaser.Releases(packet), 1);
}

TEST_F(FrameAssemblerTest, FragmentsInAnyOrderGiveTheSameFrame) {
    const std::vector<Payload> fragments = SplitIntoFragments(keyFrames_[0], 3);
    AddFragments(6000, fragments, {0, 1, 2});
    ASSERT_EQ(Decoded(), 1u);
    AddFragments(12000, fragments, {2, 0});
    EXPECT_EQ(Decoded(), 1u) << "waits for the missing fragment";
    AddFragments(12000, fragments, {1});
    ASSERT_EQ(Decoded(), 2u);
    EXPECT_EQ(pictures.pictures[0], pictures.pictures[1]);
    EXPECT_EQ(pictures.consumedCounts[1], static_cast<int>(keyFrames_[0].size()));
}

TEST_F(FrameAssemblerTest, DuplicateIsGivenBackAndDoesNotDisturbTheFrame) {
    const std::vector<Payload> fragments = SplitIntoFragments(keyFrames_[0], 2);
    Add(6000, fragments[0]);
    Payload corrupted = fragments[0];
    corrupted.back() ^= 0xFF;
    void* duplicate = Add(6000, corrupted);
    EXPECT_EQ(releaser.Releases(duplicate), 1) << "given back at once";
    Add(6000, fragments[1]);
    ASSERT_EQ(Decoded(), 1u);
    EXPECT_EQ(pictures.consumedCounts[0], static_cast<int>(keyFrames_[0].size()));
}

TEST_F(FrameAssemblerTest, CompletedFramePurgesOlderFramesOnly) {
    void* older = AddIncompleteFrame(1000);
    const std::vector<Payload> newer = SplitIntoFragments(keyFrames_[1], 2);
    void* newerFirst = Add(3000, newer[0]);
    for (const Payload& fragment : SplitIntoFragments(keyFrames_[0], 2)) Add(2000, fragment);
    ASSERT_EQ(Decoded(), 1u);
    EXPECT_EQ(releaser.Releases(older), 1) << "frame 1000 was dropped";
    EXPECT_EQ(releaser.Releases(newerFirst), 0) << "frame 3000 is kept";
    Add(3000, newer[1]);
    EXPECT_EQ(Decoded(), 2u);
    EXPECT_EQ(pictures.consumedCounts[1], static_cast<int>(keyFrames_[1].size()));
}

TEST_F(FrameAssemblerTest, LateFragmentOfAPurgedFrameWaitsInANewSlot) {
    const std::vector<Payload> late = SplitIntoFragments(keyFrames_[1], 2);
    Add(1000, late[0]);
    Add(2000, SplitIntoFragments(keyFrames_[0], 1)[0]);
    void* straggler = Add(1000, late[1]);
    EXPECT_EQ(Decoded(), 1u);
    EXPECT_EQ(releaser.Releases(straggler), 0);
    assembler->ReleaseAll();
    EXPECT_EQ(releaser.Releases(straggler), 1);
}

TEST_F(FrameAssemblerTest, TimestampOrderFollowsTheWrap) {
    const Payload whole = SplitIntoFragments(keyFrames_[0], 1)[0];
    void* beforeWrap = AddIncompleteFrame(kJustBeforeWrap);
    Add(kJustAfterWrap, whole);
    EXPECT_EQ(releaser.Releases(beforeWrap), 1) << "a frame just before the wrap is older";

    void* afterWrap = AddIncompleteFrame(kJustAfterWrap + 6000);
    Add(kJustBeforeWrap - 6000, whole);
    EXPECT_EQ(releaser.Releases(afterWrap), 0) << "a frame just after the wrap is newer";
    EXPECT_EQ(Decoded(), 1u) << "older than the frame decoded last: dropped, not decoded out of order";
}

// A lost frame leaves every later one until the next key frame decoded
// against a picture the viewer never had: none of them is shown.
TEST_F(FrameAssemblerTest, AfterALostFrameNothingIsShownUntilAKeyFrame) {
    EnginePolicyEncoder encoder;
    const std::vector<CodedFrame> frames = encoder.EncodeMoving(0, 28);  // key frames at 0 and 27
    ASSERT_EQ(frames[0].keyFrame, 2);
    uint32_t timestamp = 6000;
    auto send = [&](size_t n) {
        for (const Payload& fragment : CutIntoFragments(frames[n].bytes)) Add(timestamp + 6000 * uint32_t(n), fragment);
    };
    for (size_t n = 0; n < 3; ++n) send(n);
    EXPECT_EQ(Decoded(), 3u);
    // Frame 3 never arrives.
    for (size_t n = 4; n < 26; ++n) send(n);
    EXPECT_EQ(Decoded(), 3u) << "P frames after the gap are not shown";
    EXPECT_EQ(decoder.GetCounts().droppedWhileFrozen, 22u);
    size_t keyFrame = 26;
    while (keyFrame < frames.size() && frames[keyFrame].keyFrame == 0) ++keyFrame;
    ASSERT_LT(keyFrame, frames.size());
    send(keyFrame);
    EXPECT_EQ(Decoded(), 4u) << "the next key frame ends the freeze";
    EXPECT_EQ(decoder.GetCounts().freezes, 1u);
    EXPECT_GT(decoder.GetCounts().longestFreezeSeconds, 0.0);
}

// A frame resent late is waited for: the frames after it are held, then all
// of them decode in order, and no picture is lost to a freeze. Waiting long,
// the assembler says it is stalled (the engine then asks for a key frame).
TEST_F(FrameAssemblerTest, FramesAfterAGapWaitForTheMissingFrameToBeResent) {
    EnginePolicyEncoder encoder;
    const std::vector<CodedFrame> frames = encoder.EncodeMoving(0, 9);
    auto send = [&](size_t n) {
        for (const Payload& fragment : CutIntoFragments(frames[n].bytes)) Add(6000 + 6000 * uint32_t(n), fragment);
    };
    for (size_t n : {0, 1, 3, 4, 5, 6}) send(n);
    EXPECT_EQ(Decoded(), 2u) << "frames 3-6 wait for frame 2";
    EXPECT_FALSE(assembler->IsStalled());
    send(7);
    EXPECT_TRUE(assembler->IsStalled()) << "frame 7 is five steps past the last decoded one";
    send(2);
    send(8);
    EXPECT_FALSE(assembler->IsStalled());
    ASSERT_EQ(Decoded(), 9u);
    for (size_t n = 0; n < frames.size(); ++n)
        EXPECT_EQ(pictures.consumedCounts[n], static_cast<int>(frames[n].bytes.size())) << "frame " << n;
    EXPECT_EQ(decoder.GetCounts().freezes, 0u);
    EXPECT_EQ(decoder.GetCounts().droppedWhileFrozen, 0u);
}

TEST_F(FrameAssemblerTest, KeyFrameAfterAGapDoesNotWait) {
    for (const Payload& fragment : SplitIntoFragments(keyFrames_[0], 2)) Add(6000, fragment);
    AddIncompleteFrame(12000);
    for (const Payload& fragment : SplitIntoFragments(keyFrames_[1], 2)) Add(18000, fragment);
    EXPECT_EQ(Decoded(), 2u);
    EXPECT_TRUE(CVideoDec::IsKeyFrame(keyFrames_[1].data(), keyFrames_[1].size()));
}

TEST_F(FrameAssemblerTest, SeventeenthFrameTakesTheSlotOfTheOldest) {
    // Timestamps out of order, the oldest in the middle of the slots.
    std::vector<void*> held;
    for (uint32_t n = 0; n < 16; ++n) held.push_back(AddIncompleteFrame((n + 8) % 16 * 1000 + 1000));
    void* oldest = held[8];
    EXPECT_EQ(releaser.Releases(oldest), 0);
    Add(17000, SplitIntoFragments(keyFrames_[0], 2)[0]);
    for (void* packet : held) EXPECT_EQ(releaser.Releases(packet), packet == oldest ? 1 : 0);
}

TEST_F(FrameAssemblerTest, AcceptsUpToThirtyTwoFragments) {
    const std::vector<Payload> accepted = SplitIntoFragments(keyFrames_[0], 32);
    for (int i = 31; i >= 0; --i) Add(6000, accepted[i]);
    ASSERT_EQ(Decoded(), 1u);

    const std::vector<Payload> refused = SplitIntoFragments(keyFrames_[0], 33);
    for (const Payload& fragment : refused) {
        void* packet = Add(12000, fragment);
        EXPECT_EQ(releaser.Releases(packet), 1) << "each opener announcing 33 is given back";
    }
    EXPECT_EQ(Decoded(), 1u);
}

TEST_F(FrameAssemblerTest, MalformedFragmentsAreGivenBackAtOnce) {
    for (const Payload& bad : {Payload{}, Payload{1}, Payload{2, 2, 0}, Payload{2, 200, 0}}) {
        void* packet = Add(6000, bad);
        EXPECT_EQ(releaser.Releases(packet), 1) << "payload of " << bad.size() << " bytes";
    }
    // The frame with timestamp 6000 is still open for its real fragments.
    for (const Payload& fragment : SplitIntoFragments(keyFrames_[0], 2)) Add(6000, fragment);
    EXPECT_EQ(Decoded(), 1u);
}

TEST_F(FrameAssemblerTest, CountZeroOpenerLetsTheNextFragmentReopenTheFrame) {
    void* empty = Add(6000, Payload{0, 0, 0x55});
    EXPECT_EQ(releaser.Releases(empty), 1);
    Add(6000, SplitIntoFragments(keyFrames_[0], 1)[0]);
    EXPECT_EQ(Decoded(), 1u);
}

TEST_F(FrameAssemblerTest, FrameLargerThanTheBufferIsDroppedWhole) {
    const Payload big(2 + 20000, 0);  // two of these exceed 32,768 bytes
    Payload first = big, second = big;
    first[0] = second[0] = 2;
    second[1] = 1;
    void* older = AddIncompleteFrame(1000);
    void* a = Add(2000, first);
    void* b = Add(2000, second);
    EXPECT_EQ(Decoded(), 0u);
    EXPECT_EQ(releaser.Releases(a) + releaser.Releases(b), 2);
    EXPECT_EQ(releaser.Releases(older), 1) << "older frames are purged as after a decoded frame";
}

TEST_F(FrameAssemblerTest, ReleaseAllAndDestructionGiveBackEverythingHeld) {
    for (uint32_t n = 1; n <= 20; ++n) AddIncompleteFrame(n * 1000);  // four evicted on the way
    EXPECT_EQ(releaser.Unreleased(), 16u);
    assembler->ReleaseAll();
    EXPECT_EQ(releaser.Unreleased(), 0u);
    for (uint32_t n = 1; n <= 5; ++n) AddIncompleteFrame(n * 1000);
    EXPECT_EQ(releaser.Unreleased(), 5u);
    // TearDown destroys the assembler and checks each packet came back once.
}

TEST_F(FrameAssemblerTest, WithoutDecoderCompleteFramesAreDroppedButReleased) {
    assembler->SetDecoder(nullptr);
    for (const Payload& fragment : SplitIntoFragments(keyFrames_[0], 3)) Add(6000, fragment);
    EXPECT_EQ(Decoded(), 0u);
    EXPECT_EQ(releaser.Unreleased(), 0u);
}

}  // namespace
}  // namespace codec_test
