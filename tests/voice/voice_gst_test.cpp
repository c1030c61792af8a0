// The GStreamer sound pipelines, with a test source and sink standing in for
// sound hardware (none is needed).
#include "voice/gst_audio.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {
using namespace std::chrono_literals;
using namespace voice;

GstElement* TestSource() {
    GstElement* source = gst_element_factory_make("audiotestsrc", nullptr);
    g_object_set(source, "is-live", TRUE, "freq", 440.0, nullptr);
    return source;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(10ms);
    return done();
}

TEST(GstVoiceDevices, AMicrophoneDeliversSixteenKilohertzMonoForProcessingAndASpeakerTakesItsSound) {
    ASSERT_TRUE(EnsureGstreamer());
    auto speaker = MakeGstSpeaker(gst_element_factory_make("fakesink", nullptr));
    std::string error;
    ASSERT_TRUE(speaker->Start(&error)) << error;
    std::array<int16_t, 480> silence{};
    EXPECT_GE(speaker->Play(silence.data(), 480, 1000).heardMicros, 1000);

    auto microphone = MakeGstMicrophone(TestSource());
    EXPECT_EQ(Processing::kSoundDevice, microphone->SoundProcessing());
    std::atomic<int> samples{0};
    ASSERT_TRUE(microphone->Start([&](const int16_t*, int count, int64_t) { samples += count; }, &error)) << error;
    // Keep the speaker fed, as the playout thread does.
    EXPECT_TRUE(WaitFor(
        [&] {
            speaker->Play(silence.data(), 480, 0);
            return samples >= 16000 / 2;
        },
        3s));
    const auto started = std::chrono::steady_clock::now();
    const int before = samples;
    std::this_thread::sleep_for(500ms);
    const double rate =
        (samples - before) / std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_NEAR(16000, rate, 3000);
    EXPECT_FALSE(microphone->Failed(&error)) << error;
    microphone->Stop();
    speaker->Stop();
}

TEST(GstVoiceDevices, ADeviceThatCannotStartSaysWhy) {
    ASSERT_TRUE(EnsureGstreamer());
    GstElement* missing = gst_element_factory_make("filesrc", nullptr);
    g_object_set(missing, "location", "/nonexistent/sound", nullptr);
    auto microphone = MakeGstMicrophone(missing);
    std::string error;
    EXPECT_FALSE(microphone->Start([](const int16_t*, int, int64_t) {}, &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
