// The encoder's life cycle and key-frame reporting.
#include "codec/video_enc.h"
#include "tests/codec/support/recording_sinks.h"
#include "tests/codec/support/synthetic_video.h"

#include <gtest/gtest.h>

#include <xvid.h>

namespace codec_test {
namespace {

class VideoEncTest : public ::testing::Test {
protected:
    void OpenAndCreate() {
        encoder.Open(kVideoWidth, kVideoHeight, &sink);
        InitCodecLibrary();
        ASSERT_TRUE(encoder.CreateEncoder());
    }
    void EncodeMoving(int frameNumber, bool forceKeyFrame) {
        encoder.Encode(MovingPicture(frameNumber).data(), forceKeyFrame);
    }

    RecordingVideoSink sink;
    CVideoEnc encoder;
};

TEST_F(VideoEncTest, CodesNothingWhileNotRunning) {
    EncodeMoving(0, true);  // never created
    encoder.Open(kVideoWidth, kVideoHeight, &sink);
    EncodeMoving(0, true);  // opened only
    EXPECT_TRUE(sink.frames.empty());
    EXPECT_EQ(encoder.KeyFrameFlag(), 0);

    InitCodecLibrary();
    ASSERT_TRUE(encoder.CreateEncoder());
    EncodeMoving(0, false);
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_TRUE(encoder.Close());
    EncodeMoving(1, true);
    EXPECT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(encoder.KeyFrameFlag(), XVID_KEYFRAME) << "the flag keeps the last frame's value";
}

TEST_F(VideoEncTest, FirstFrameAndForcedFramesAreKeyFrames) {
    OpenAndCreate();
    EncodeMoving(0, false);
    EncodeMoving(1, false);
    EncodeMoving(2, true);
    EncodeMoving(3, false);
    ASSERT_EQ(sink.frames.size(), 4u);
    EXPECT_EQ(sink.frames[0].keyFrame, XVID_KEYFRAME);
    EXPECT_EQ(sink.frames[1].keyFrame, 0);
    EXPECT_EQ(sink.frames[2].keyFrame, XVID_KEYFRAME);
    EXPECT_EQ(sink.frames[3].keyFrame, 0);
    EXPECT_EQ(encoder.KeyFrameFlag(), 0);
    // A key frame carries the stream headers, so it is much larger than the
    // predicted frame that follows a small movement.
    EXPECT_GT(sink.frames[2].bytes.size(), sink.frames[3].bytes.size());
}

TEST_F(VideoEncTest, CreateWithoutSinkFailsAndStaysStopped) {
    encoder.Open(kVideoWidth, kVideoHeight, nullptr);
    InitCodecLibrary();
    EXPECT_FALSE(encoder.CreateEncoder());
    EncodeMoving(0, true);
    EXPECT_EQ(encoder.KeyFrameFlag(), 0);
    EXPECT_FALSE(encoder.Close());
}

TEST_F(VideoEncTest, CloseReportsFalseWithoutInstance) {
    EXPECT_FALSE(encoder.Close());
    OpenAndCreate();
    EXPECT_TRUE(encoder.Close());
    EXPECT_FALSE(encoder.Close());
}

TEST_F(VideoEncTest, RunsAgainAfterCloseAndSecondCreate) {
    OpenAndCreate();
    EncodeMoving(0, false);
    ASSERT_TRUE(encoder.CreateEncoder());  // replaces the running instance
    EncodeMoving(1, false);
    EXPECT_TRUE(encoder.Close());
    ASSERT_TRUE(encoder.CreateEncoder());
    EncodeMoving(2, false);
    ASSERT_EQ(sink.frames.size(), 3u);
    for (const CodedFrame& frame : sink.frames)
        EXPECT_EQ(frame.keyFrame, XVID_KEYFRAME) << "each instance starts afresh";
}

TEST_F(VideoEncTest, RefusesPicturesWhoseFramesCouldOverrunTheBuffer) {
    encoder.Open(176, 144, &sink);  // 99 macroblocks: the worst case would not fit
    InitCodecLibrary();
    EXPECT_FALSE(encoder.CreateEncoder());
    encoder.Open(0, 0, &sink);
    EXPECT_FALSE(encoder.CreateEncoder());
    encoder.Open(128, 96, &sink);
    EXPECT_TRUE(encoder.CreateEncoder());
}

TEST_F(VideoEncTest, NoisyPicturesStayFarBelowTheHandOnLimit) {
    OpenAndCreate();
    Picture noise(kVideoFrameBytes);
    uint32_t state = 12345;
    for (int frame = 0; frame < 4; ++frame) {
        for (uint8_t& byte : noise) byte = (state = state * 1664525u + 1013904223u) >> 31 ? 255 : 0;
        encoder.Encode(noise.data(), frame % 2 == 0);
    }
    ASSERT_EQ(sink.frames.size(), 4u);
    for (const CodedFrame& frame : sink.frames) EXPECT_LT(frame.bytes.size(), size_t{CVideoEnc::kBitstreamBytes} / 2);
}

}  // namespace
}  // namespace codec_test
