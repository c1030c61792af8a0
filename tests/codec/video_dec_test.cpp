// The decoder's life cycle and its defences against frames it must not show
// or must not write past its picture for.
#include "codec/guard_paged_buffer.h"
#include "codec/video_dec.h"
#include "tests/codec/support/engine_policy_encoder.h"
#include "tests/codec/support/recording_sinks.h"
#include "tests/codec/support/synthetic_video.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace codec_test {
namespace {

constexpr double kMinimumPsnrDb = 25.0;

class VideoDecTest : public ::testing::Test {
protected:
    void SetUp() override {
        decoder.Open(kVideoWidth, kVideoHeight, &sink);
        InitCodecLibrary();
        ASSERT_TRUE(decoder.CreateDecoder());
    }
    // Decodes from a copy that ends, with the read-ahead padding, at a guard page.
    void Decode(const std::vector<uint8_t>& frame) {
        codec::GuardPagedBuffer input(frame.size() + CVideoDec::kInputPaddingBytes);
        ASSERT_NE(input.data(), nullptr);
        std::memcpy(input.data(), frame.data(), frame.size());
        decoder.Decode(input.data(), static_cast<int>(frame.size()));
    }

    RecordingFrameSink sink;
    CVideoDec decoder;
};

TEST_F(VideoDecTest, ShowsEveryWholeFrameWithAllBytesConsumed) {
    EnginePolicyEncoder encoder;
    const std::vector<CodedFrame> frames = encoder.EncodeMoving(0, 30);
    int endingInWholeStuffingByte = 0;
    for (const CodedFrame& frame : frames) {
        Decode(frame.bytes);
        endingInWholeStuffingByte += frame.bytes.back() == 0x7F;
    }
    // The library leaves such a byte unconsumed; it still belongs to the frame.
    EXPECT_GT(endingInWholeStuffingByte, 0);
    ASSERT_EQ(sink.pictures.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(sink.consumedCounts[i], static_cast<int>(frames[i].bytes.size()));
        EXPECT_GE(Psnr(sink.pictures[i].data(), MovingPicture(static_cast<int>(i)).data(), kVideoFrameBytes),
                  kMinimumPsnrDb);
    }
    EXPECT_EQ(sink.lastPicture, decoder.Picture()) << "the view gets the decoder's own buffer";
}

TEST_F(VideoDecTest, FrameWithStrayBytesIsNotShown) {
    EnginePolicyEncoder encoder;
    std::vector<uint8_t> frame = encoder.EncodeMoving(0, 1)[0].bytes;
    frame.insert(frame.end(), {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0});
    Decode(frame);
    EXPECT_TRUE(sink.pictures.empty());
}

TEST_F(VideoDecTest, PredictedFramesBeforeTheFirstKeyFrameShowNothing) {
    EnginePolicyEncoder encoder;
    const std::vector<CodedFrame> frames = encoder.EncodeMoving(0, 4);
    ASSERT_EQ(frames[0].keyFrame, 2);
    Decode(frames[2].bytes);
    Decode(frames[3].bytes);
    EXPECT_TRUE(sink.pictures.empty()) << "the stale buffer is not handed on as a picture";
}

TEST_F(VideoDecTest, RecreatedDecoderKeepsItsPictureAndResumesAtTheNextKeyFrame) {
    EnginePolicyEncoder encoder;
    const std::vector<CodedFrame> frames = encoder.EncodeMoving(0, 30);  // key frames 0 and 27
    ASSERT_EQ(frames[27].keyFrame, 2);
    for (int i = 0; i < 3; ++i) Decode(frames[i].bytes);
    ASSERT_EQ(sink.pictures.size(), 3u);
    const uint8_t* buffer = decoder.Picture();
    const std::vector<uint8_t> lastPicture(buffer, buffer + kVideoFrameBytes);

    EXPECT_TRUE(decoder.Close());  // the user is removed ...
    InitCodecLibrary();
    ASSERT_TRUE(decoder.CreateDecoder());  // ... and added again
    EXPECT_EQ(decoder.Picture(), buffer);
    EXPECT_EQ(std::memcmp(decoder.Picture(), lastPicture.data(), kVideoFrameBytes), 0);

    for (int i = 3; i < 27; ++i) Decode(frames[i].bytes);
    EXPECT_EQ(sink.pictures.size(), 3u) << "a fresh instance has no reference picture";
    for (int i = 27; i < 30; ++i) Decode(frames[i].bytes);
    ASSERT_EQ(sink.pictures.size(), 6u);
    EXPECT_GE(Psnr(sink.pictures[5].data(), MovingPicture(29).data(), kVideoFrameBytes), kMinimumPsnrDb);
}

TEST_F(VideoDecTest, StreamsOfAnotherPictureSizeAreDropped) {
    for (auto [width, height] : {std::pair{160, 128}, std::pair{128, 96}}) {
        EnginePolicyEncoder encoder(width, height);
        std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 3, 0x80);
        for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 7);
        for (int n = 0; n < 3; ++n) Decode(encoder.Encode(picture.data()).bytes);
    }
    EXPECT_TRUE(sink.pictures.empty());

    // The decoder still takes its own stream afterwards.
    EnginePolicyEncoder encoder;
    Decode(encoder.EncodeMoving(0, 1)[0].bytes);
    EXPECT_EQ(sink.pictures.size(), 1u);
}

TEST_F(VideoDecTest, PictureBufferEndsAtAGuardPage) {
    const uint8_t* picture = decoder.Picture();
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture[kVideoFrameBytes - 1], 0) << "allocated zero-filled";
    EXPECT_DEATH({ [[maybe_unused]] volatile uint8_t past = picture[kVideoFrameBytes]; }, "");
}

TEST(VideoDecLifecycle, RefusesToCreateWithoutSinkOrSystemPictureSize) {
    RecordingFrameSink sink;
    InitCodecLibrary();
    CVideoDec withoutSink;
    withoutSink.Open(kVideoWidth, kVideoHeight, nullptr);
    EXPECT_FALSE(withoutSink.CreateDecoder());

    CVideoDec unsized;  // would otherwise decode at whatever size a stream announces
    unsized.Open(0, 0, &sink);
    EXPECT_EQ(unsized.Picture(), nullptr);
    EXPECT_FALSE(unsized.CreateDecoder());

    CVideoDec otherSize;
    otherSize.Open(176, 144, &sink);
    EXPECT_FALSE(otherSize.CreateDecoder());
}

TEST(VideoDecLifecycle, ReopenedAtAnotherSizeStopsDecoding) {
    RecordingFrameSink sink;
    CVideoDec decoder;
    decoder.Open(kVideoWidth, kVideoHeight, &sink);
    InitCodecLibrary();
    ASSERT_TRUE(decoder.CreateDecoder());
    decoder.Open(80, 60, &sink);  // a smaller picture now, with the instance still open
    EnginePolicyEncoder encoder;
    std::vector<uint8_t> frame = encoder.EncodeMoving(0, 1)[0].bytes;
    frame.resize(frame.size() + CVideoDec::kInputPaddingBytes);
    decoder.Decode(frame.data(), static_cast<int>(frame.size() - CVideoDec::kInputPaddingBytes));
    EXPECT_TRUE(sink.pictures.empty());
}

TEST(VideoDecLifecycle, CloseWithoutInstanceReportsTrue) {
    CVideoDec decoder;
    EXPECT_TRUE(decoder.Close());
    RecordingFrameSink sink;
    decoder.Open(kVideoWidth, kVideoHeight, &sink);
    EXPECT_TRUE(decoder.Close());
    decoder.Decode(nullptr, 0);  // no instance: nothing reaches the library
    EXPECT_TRUE(sink.pictures.empty());
}

// Engines of one process create decoders and encoders on their own threads;
// creating one must not disturb another that is coding at that moment.
TEST_F(VideoDecTest, PicturesStayTheSameWhileAnotherThreadPreparesTheLibrary) {
    EnginePolicyEncoder encoder;
    const std::vector<CodedFrame> frames = encoder.EncodeMoving(0, 60);
    for (const CodedFrame& frame : frames) Decode(frame.bytes);
    const std::vector<std::vector<uint8_t>> alone = sink.pictures;
    ASSERT_EQ(alone.size(), frames.size());

    RecordingFrameSink concurrentSink;
    CVideoDec concurrent;
    concurrent.Open(kVideoWidth, kVideoHeight, &concurrentSink);
    ASSERT_TRUE(concurrent.CreateDecoder());
    std::atomic<bool> done{false};
    std::thread preparer([&] {
        for (int i = 0; i < 100000 && !done; ++i) InitCodecLibrary();
    });
    for (const CodedFrame& frame : frames) {
        std::vector<uint8_t> padded(frame.bytes);
        padded.resize(frame.bytes.size() + CVideoDec::kInputPaddingBytes);
        concurrent.Decode(padded.data(), static_cast<int>(frame.bytes.size()));
    }
    done = true;
    preparer.join();
    EXPECT_EQ(concurrentSink.pictures, alone);
}

}  // namespace
}  // namespace codec_test
