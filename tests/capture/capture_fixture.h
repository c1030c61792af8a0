// A capture engine on the fake media platform, with a recording log sink.
#pragma once

#include "capture/cap_zephra.h"
#include "tests/capture/fake_media.h"
#include "tests/capture/name_collector.h"
#include "tests/support/recording_log_sink.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace capture_testing {

// The size the engine asks of the capture engine.
constexpr int kVideoWidth = 160;
constexpr int kVideoHeight = 120;
constexpr int kVideoFrameBytes = kVideoWidth * kVideoHeight * 3;

// A 24-bit picture with 4-byte-aligned rows and random content.
inline std::vector<uint8_t> RandomFrame(int width, int height, uint32_t seed) {
    std::vector<uint8_t> bytes(static_cast<size_t>(media::Stride24(width)) * height);
    std::mt19937 random(seed);
    for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

class CaptureTest : public ::testing::Test {
protected:
    CaptureTest() { capture.SetLogSink(&log); }

    void AddCamera(const std::string& name) { platform.cameras.push_back(fake_media::CameraScript::Named(name)); }

    // A camera delivering exactly this size, accepting every format.
    void AddCameraDelivering(const std::string& name, int width, int height) {
        AddCamera(name);
        platform.cameras.back().current = fake_media::Format{width, height, 400000};
        platform.cameras.back().accepts = [](const fake_media::Format&) { return false; };
    }

    // Builds the graph for 160 x 120 and starts it.
    void CreateAndStart() {
        ASSERT_EQ(capture.Create(nullptr, kVideoWidth, kVideoHeight), 1);
        ASSERT_EQ(capture.StartCapture(), 1);
    }

    std::optional<std::vector<uint8_t>> TakeFrame() {
        uint32_t length = 0;
        const uint8_t* frame = capture.GetFrame(&length);
        if (!frame) return std::nullopt;
        return std::vector<uint8_t>(frame, frame + length);
    }

    fake_media::FakeMediaPlatform platform;
    testing_support::RecordingLogSink log;
    CCapZephra capture;
};

}  // namespace capture_testing
