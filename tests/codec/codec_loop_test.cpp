// The whole video path between two engines: pictures coded under the
// engine's key-frame policy, cut into fragments, shuffled within each frame,
// reassembled and decoded.
#include "codec/codec_library.h"
#include "codec/frame_assembler.h"
#include "codec/video_dec.h"
#include "tests/codec/support/counting_packet_releaser.h"
#include "tests/codec/support/engine_policy_encoder.h"
#include "tests/codec/support/recording_sinks.h"
#include "tests/codec/support/synthetic_video.h"
#include "tests/codec/support/video_fragments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace codec_test {
namespace {

constexpr int kFrames = 60;
constexpr double kMinimumPsnrDb = 25.0;
constexpr uint32_t kFirstTimestamp = 4294900000u;  // crosses the wrap on the way

TEST(CodecLoop, FragmentedShuffledFramesComeOutAsTheirPictures) {
    EnginePolicyEncoder encoder;
    RecordingFrameSink pictures;
    CVideoDec decoder;
    decoder.Open(kVideoWidth, kVideoHeight, &pictures);
    InitCodecLibrary();
    ASSERT_TRUE(decoder.CreateDecoder());
    CountingPacketReleaser releaser;
    CVideoFrameAssembler assembler;
    assembler.SetDecoder(&decoder);
    assembler.SetReleaser(&releaser);

    const double threadCpuBefore = codec::ThreadCpuSeconds();
    std::mt19937 random(20240611);
    std::vector<int> keyFrameNumbers;
    size_t largestFrameFragments = 0;
    uint32_t timestamp = kFirstTimestamp;
    for (int n = 0; n < kFrames; ++n) {
        const CodedFrame frame = encoder.Encode(MovingPicture(n).data());
        ASSERT_FALSE(frame.bytes.empty());
        if (frame.keyFrame) keyFrameNumbers.push_back(n + 1);
        timestamp += kTimestampPerFrame;
        std::vector<Payload> fragments = CutIntoFragments(frame.bytes);
        largestFrameFragments = std::max(largestFrameFragments, fragments.size());
        std::shuffle(fragments.begin(), fragments.end(), random);
        for (const Payload& fragment : fragments) assembler.AddPacket(releaser.Make(timestamp, fragment));

        ASSERT_EQ(pictures.pictures.size(), static_cast<size_t>(n + 1)) << "frame " << n + 1;
        const Picture source = MovingPicture(n);
        EXPECT_GE(Psnr(pictures.pictures[n].data(), source.data(), kVideoFrameBytes), kMinimumPsnrDb)
            << "frame " << n + 1;
    }
    // The library's time is counted, and only its own: it is part of this thread's.
    const double threadCpu = codec::ThreadCpuSeconds() - threadCpuBefore;
    EXPECT_GT(encoder.CpuSeconds(), 0);
    EXPECT_GT(decoder.CpuSeconds(), 0);
    EXPECT_LE(encoder.CpuSeconds() + decoder.CpuSeconds(), threadCpu);
    EXPECT_EQ(keyFrameNumbers, (std::vector<int>{1, 28, 55}));
    EXPECT_GT(largestFrameFragments, 1u) << "key frames travel in several fragments";

    // Same row order as the source: the picture turned over does not match.
    const Picture flipped = FlipRows(MovingPicture(kFrames - 1).data(), kVideoWidth, kVideoHeight);
    EXPECT_LT(Psnr(pictures.pictures.back().data(), flipped.data(), kVideoFrameBytes), kMinimumPsnrDb - 10);
    EXPECT_TRUE(releaser.AllReleasedOnce());
}

}  // namespace
}  // namespace codec_test
