// The ring between a streaming thread and the window thread, and stopping
// while frames arrive; runs under ThreadSanitizer too.
#include "tests/capture/capture_fixture.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace {

using capture_testing::CaptureTest;

constexpr int kFrames = 300;
constexpr size_t kFrameBytes = 57600;

// Frame i: its number in the first four bytes, then i % 251 throughout, so
// a torn frame shows.
std::vector<uint8_t> NumberedFrame(uint32_t number) {
    std::vector<uint8_t> frame(kFrameBytes, static_cast<uint8_t>(number % 251));
    std::memcpy(frame.data(), &number, sizeof(number));
    return frame;
}

TEST_F(CaptureTest, FramesCrossFromTheStreamingThreadWholeAndInOrder) {
    AddCameraDelivering("Cam", 160, 120);
    CreateAndStart();
    std::atomic<bool> done{false};
    std::thread streaming([&] {
        for (uint32_t i = 1; i <= kFrames; ++i) {
            const auto frame = NumberedFrame(i);
            platform.Deliver(0.1 * i, frame.data(), static_cast<long>(frame.size()));
            if (i % 16 == 0) std::this_thread::yield();
        }
        done = true;
    });

    uint32_t last = 0;
    int taken = 0;
    for (bool finished = false; !finished;) {
        finished = done.load();
        while (auto frame = TakeFrame()) {
            ASSERT_EQ(frame->size(), kFrameBytes);
            uint32_t number;
            std::memcpy(&number, frame->data(), sizeof(number));
            EXPECT_GT(number, last);
            last = number;
            const auto fill = static_cast<uint8_t>(number % 251);
            EXPECT_TRUE(std::all_of(frame->begin() + 4, frame->end(), [fill](uint8_t b) { return b == fill; }));
            ++taken;
        }
        std::this_thread::yield();
    }
    streaming.join();
    EXPECT_EQ(last, static_cast<uint32_t>(kFrames));
    EXPECT_GE(taken, 4);
}

TEST_F(CaptureTest, NoFrameArrivesOnceStopReturned) {
    AddCameraDelivering("Cam", 160, 120);
    CreateAndStart();
    std::atomic<bool> stopped{false};
    std::atomic<bool> quit{false};
    std::atomic<int> lateFrames{0};
    std::atomic<int> delivered{0};
    std::thread streaming([&] {
        const auto frame = NumberedFrame(1);
        for (uint32_t i = 1; !quit; ++i) {
            const bool stoppedBefore = stopped.load();
            if (platform.Deliver(0.1 * i, frame.data(), static_cast<long>(frame.size()))) {
                ++delivered;
                if (stoppedBefore) ++lateFrames;
            }
        }
    });
    while (delivered < 20) std::this_thread::yield();
    ASSERT_EQ(capture.StopCapture(), 1);
    stopped = true;
    while (TakeFrame()) {
    }
    // Tear the graph down under the running thread: the ring goes only after the stop.
    capture.DestroyGraph();
    quit = true;
    streaming.join();
    EXPECT_EQ(lateFrames, 0);
    EXPECT_EQ(platform.LiveObjects(), 0);
}

// A camera that streams the moment Run returns, as GStreamer's does: the
// start must not touch what BufferCB uses once the graph runs.
TEST_F(CaptureTest, StartingAndRestartingUnderAStreamingCamera) {
    AddCameraDelivering("Cam", 160, 120);
    ASSERT_EQ(capture.Create(nullptr, 160, 120), 1);
    std::atomic<bool> quit{false};
    std::atomic<int> delivered{0};
    std::thread streaming([&] {
        const auto frame = NumberedFrame(1);
        for (uint32_t i = 1; !quit; ++i) {
            if (platform.Deliver(0.1 * i, frame.data(), static_cast<long>(frame.size()))) ++delivered;
            std::this_thread::yield();
        }
    });
    for (int round = 0; round < 3; ++round) {
        const int before = delivered;
        ASSERT_EQ(capture.StartCapture(), 1);
        ASSERT_EQ(capture.StartCapture(), 1);  // already running
        while (delivered < before + 10) std::this_thread::yield();
        ASSERT_EQ(capture.StopCapture(), 1);
        EXPECT_TRUE(TakeFrame());
    }
    quit = true;
    streaming.join();
}

}  // namespace
