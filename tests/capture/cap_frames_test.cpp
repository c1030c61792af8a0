// BufferCB and the frame ring: rate limit, overflow, copying and scaling,
// and following a camera that changes its buffer size while running.
#include "tests/capture/capture_fixture.h"

namespace {

using capture_testing::CaptureTest;
using capture_testing::RandomFrame;

constexpr size_t kFrameBytes = 57600;

class FrameTest : public CaptureTest {
protected:
    bool Deliver(double time, const std::vector<uint8_t>& frame) {
        return platform.Deliver(time, frame.data(), static_cast<long>(frame.size()));
    }

    static std::vector<uint8_t> Scaled(std::vector<uint8_t> source, int width, int height) {
        std::vector<uint8_t> expected(kFrameBytes);
        ScaleBilinear({expected.data(), 480, 160, 120}, {source.data(), media::Stride24(width), width, height});
        return expected;
    }
};

TEST_F(FrameTest, SamplesCloserThan66MillisecondsAreDropped) {
    AddCameraDelivering("Cam", 160, 120);
    CreateAndStart();
    const auto frame = RandomFrame(160, 120, 1);

    Deliver(0.065, frame);  // the first sample after the start is measured from 0
    EXPECT_FALSE(TakeFrame());
    Deliver(0.066, frame);  // exactly 0.066 after the last accepted time
    EXPECT_TRUE(TakeFrame());
    Deliver(0.131, frame);
    EXPECT_FALSE(TakeFrame());
    Deliver(0.132, frame);
    EXPECT_TRUE(TakeFrame());

    // A restart measures from 0 again.
    capture.StopCapture();
    capture.StartCapture();
    Deliver(0.07, frame);
    EXPECT_TRUE(TakeFrame());
}

TEST_F(FrameTest, FullRingLosesTheOldestFrame) {
    AddCameraDelivering("Cam", 160, 120);
    CreateAndStart();
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 5; ++i) {
        frames.push_back(RandomFrame(160, 120, static_cast<uint32_t>(i)));
        Deliver(0.1 * (i + 1), frames.back());
    }
    for (int i = 1; i < 5; ++i) EXPECT_EQ(TakeFrame(), frames[i]) << i;
    uint32_t length = 777;
    EXPECT_EQ(capture.GetFrame(&length), nullptr);
    EXPECT_EQ(length, 777u);
}

TEST_F(FrameTest, RequestedSizeIsCopiedByteForByte) {
    AddCameraDelivering("Cam", 160, 120);
    CreateAndStart();
    const auto frame = RandomFrame(160, 120, 9);
    Deliver(1.0, frame);
    EXPECT_EQ(TakeFrame(), frame);
}

TEST_F(FrameTest, LargerCameraIsScaledToTheRequestedSize) {
    AddCameraDelivering("Cam", 320, 240);
    CreateAndStart();
    const auto frame = RandomFrame(320, 240, 5);
    Deliver(1.0, frame);
    const auto stored = TakeFrame();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), kFrameBytes);
    EXPECT_EQ(*stored, Scaled(frame, 320, 240));
}

// A frame larger than a slot (640 x 480 = 921600 bytes) is never copied:
// it is scaled into the slot.
TEST_F(FrameTest, FrameLargerThanASlotIsScaledIntoIt) {
    AddCameraDelivering("Cam", 640, 480);
    CreateAndStart();
    const auto frame = RandomFrame(640, 480, 6);
    Deliver(1.0, frame);
    EXPECT_EQ(TakeFrame(), Scaled(frame, 640, 480));
}

TEST_F(FrameTest, ChangedBufferLengthSwitchesBetweenScalingAndCopying) {
    AddCameraDelivering("Cam", 160, 120);
    CreateAndStart();
    const auto large = RandomFrame(320, 240, 1);
    const auto exact = RandomFrame(160, 120, 2);
    const auto hd = RandomFrame(1366, 768, 3);  // stride 4100

    Deliver(0.1, large);
    EXPECT_EQ(TakeFrame(), Scaled(large, 320, 240));
    Deliver(0.2, exact);
    EXPECT_EQ(TakeFrame(), exact);
    Deliver(0.3, hd);
    EXPECT_EQ(TakeFrame(), Scaled(hd, 1366, 768));
}

TEST_F(FrameTest, UnknownLengthIsLookedUpInTheCapabilityList) {
    AddCameraDelivering("Cam", 160, 120);
    platform.cameras[0].capabilities = {fake_media::Format{200, 150, 333333}, fake_media::Format{300, 200, 333333}};
    CreateAndStart();
    const auto odd = RandomFrame(300, 200, 4);
    const auto unknown = RandomFrame(301, 200, 4);

    Deliver(0.1, odd);
    EXPECT_EQ(TakeFrame(), Scaled(odd, 300, 200));
    // No size matches: dropped, the previous size stays, and the rate limit
    // still counts the dropped sample.
    Deliver(0.2, unknown);
    EXPECT_FALSE(TakeFrame());
    Deliver(0.25, odd);
    EXPECT_FALSE(TakeFrame());
    Deliver(0.3, odd);
    EXPECT_EQ(TakeFrame(), Scaled(odd, 300, 200));
}

TEST_F(FrameTest, UnknownLengthWithoutUsableCapabilitiesIsDropped) {
    AddCameraDelivering("Cam", 160, 120);
    platform.cameras[0].capabilities = {fake_media::Format{300, 200, 333333}};
    platform.cameras[0].capabilityRecordSize = 64;
    CreateAndStart();
    const auto odd = RandomFrame(300, 200, 4);
    EXPECT_TRUE(Deliver(0.1, odd));
    EXPECT_FALSE(TakeFrame());
    // The old size still holds for frames of the expected length.
    const auto exact = RandomFrame(160, 120, 2);
    Deliver(0.2, exact);
    EXPECT_EQ(TakeFrame(), exact);
}

// A camera too narrow to interpolate leaves the slot's bytes as they were
// (zero in a fresh ring) while the frame is still stored at full length.
TEST_F(FrameTest, TooNarrowSourceStoresAnUntouchedFullLengthFrame) {
    AddCameraDelivering("Cam", 1, 120);
    CreateAndStart();
    const auto thin = RandomFrame(1, 120, 8);
    Deliver(0.1, thin);
    EXPECT_EQ(TakeFrame(), std::vector<uint8_t>(kFrameBytes, 0));
}

}  // namespace
