// An Opus decoder that is not libopus (ffmpeg's own) reads the Opus packets
// our frames carry, one packet per frame, after GStreamer puts them in Ogg.
#include "testkit/signal/tone_analysis.h"
#include "voice/codec/voice_encoder.h"
#include "voice/gst_audio.h"

#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <unistd.h>

namespace {
using namespace voice;

constexpr int kFrames = 100;  // 3 s
constexpr double kToneHz = 700;

std::string Output(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t read;
        while ((read = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, read);
        pclose(pipe);
    }
    return output;
}

GstBuffer* HeaderBuffer(const std::vector<uint8_t>& bytes) {
    GstBuffer* buffer = gst_buffer_new_memdup(bytes.data(), bytes.size());
    GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_HEADER);
    return buffer;
}

// Ogg Opus headers for one 16 kHz mono stream: "OpusHead" and "OpusTags".
GstCaps* OpusCapsWithHeaders() {
    std::vector<uint8_t> head = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, 1, 0, 0};  // version, channels, pre-skip
    for (int i = 0; i < 4; ++i) head.push_back(static_cast<uint8_t>(kSampleRateHz >> (8 * i)));
    head.insert(head.end(), {0, 0, 0});  // gain, mapping family 0
    std::vector<uint8_t> tags = {'O', 'p', 'u', 's', 'T', 'a', 'g', 's', 4, 0, 0, 0, 't', 'e', 's', 't', 0, 0, 0, 0};
    GValue array = G_VALUE_INIT, value = G_VALUE_INIT;
    g_value_init(&array, GST_TYPE_ARRAY);
    for (const auto& bytes : {head, tags}) {
        g_value_init(&value, GST_TYPE_BUFFER);
        GstBuffer* buffer = HeaderBuffer(bytes);
        gst_value_set_buffer(&value, buffer);
        gst_buffer_unref(buffer);
        gst_value_array_append_value(&array, &value);
        g_value_unset(&value);
    }
    GstCaps* caps = gst_caps_new_simple("audio/x-opus", "rate", G_TYPE_INT, 48000, "channels", G_TYPE_INT, 1,
                                        "channel-mapping-family", G_TYPE_INT, 0, nullptr);
    gst_structure_take_value(gst_caps_get_structure(caps, 0), "streamheader", &array);
    return caps;
}

// The 48-byte Opus parts of the frames, one Ogg packet each.
bool WriteOgg(const std::vector<std::array<uint8_t, kFrameBytes>>& frames, const std::string& path) {
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* source = gst_element_factory_make("appsrc", nullptr);
    GstElement* mux = gst_element_factory_make("oggmux", nullptr);
    GstElement* file = gst_element_factory_make("filesink", nullptr);
    if (!source || !mux || !file) return false;
    GstCaps* caps = OpusCapsWithHeaders();
    g_object_set(source, "caps", caps, "format", GST_FORMAT_TIME, nullptr);
    gst_caps_unref(caps);
    g_object_set(file, "location", path.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline), source, mux, file, nullptr);
    gst_object_ref(source);
    GstPad* output = gst_element_get_static_pad(source, "src");
    GstPad* input = gst_element_request_pad_simple(mux, "audio_%u");
    const bool linked = gst_pad_link(output, input) == GST_PAD_LINK_OK && gst_element_link(mux, file);
    gst_object_unref(output);
    gst_object_unref(input);
    if (!linked) return false;
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstClockTime time = 0;
    for (const auto& frame : frames) {
        GstBuffer* buffer = gst_buffer_new_memdup(frame.data() + kSequenceBytes, kOpusPacketBytes);
        GST_BUFFER_PTS(buffer) = time;
        GST_BUFFER_DURATION(buffer) = kFrameMs * GST_MSECOND;
        time += kFrameMs * GST_MSECOND;
        gst_app_src_push_buffer(GST_APP_SRC(source), buffer);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(source));
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* done = gst_bus_timed_pop_filtered(bus, 10 * GST_SECOND,
                                                  static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = done && GST_MESSAGE_TYPE(done) == GST_MESSAGE_EOS;
    if (done) gst_message_unref(done);
    gst_object_unref(bus);
    gst_object_unref(source);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}

TEST(OpusInterop, FfmpegsOwnDecoderReadsEveryFramesOpusPacket) {
    if (Output("command -v ffmpeg && command -v ffprobe").find("ffprobe") == std::string::npos)
        GTEST_SKIP() << "ffmpeg not installed";
    ASSERT_TRUE(EnsureGstreamer());
    VoiceEncoder encoder;
    std::vector<std::array<uint8_t, kFrameBytes>> frames(kFrames);
    for (int f = 0; f < kFrames; ++f) {
        std::array<int16_t, kFrameSamples> pcm;
        for (int i = 0; i < kFrameSamples; ++i)
            pcm[static_cast<size_t>(i)] = static_cast<int16_t>(
                2065 * std::sin(2 * std::numbers::pi * kToneHz * (f * kFrameSamples + i) / kSampleRateHz));
        ASSERT_TRUE(encoder.Encode(pcm.data(), frames[static_cast<size_t>(f)].data()));
    }
    const std::string base = ::testing::TempDir() + "voice-interop-" + std::to_string(getpid());
    ASSERT_TRUE(WriteOgg(frames, base + ".ogg"));

    // One packet per frame, each 30 ms long, each our 48 bytes.
    const std::string packets = Output(
        "ffprobe -v error -select_streams a -show_entries packet=duration_time,size "
        "-of csv=p=0 " +
        base + ".ogg");
    EXPECT_EQ(kFrames, std::count(packets.begin(), packets.end(), '\n'));
    size_t whole = 0;
    for (size_t at = packets.find("0.030000,48\n"); at != std::string::npos; at = packets.find("0.030000,48\n", at + 1))
        ++whole;
    EXPECT_EQ(static_cast<size_t>(kFrames), whole) << packets.substr(0, 200);

    // ffmpeg's native decoder, not libopus: no complaint, the whole tone.
    const std::string errors =
        Output("ffmpeg -v error -c:a opus -i " + base + ".ogg -ar 16000 -ac 1 -f s16le -y " + base + ".pcm 2>&1");
    EXPECT_EQ("", errors);
    std::ifstream file(base + ".pcm", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<int16_t> decoded(bytes.size() / 2);
    std::memcpy(decoded.data(), bytes.data(), decoded.size() * 2);
    EXPECT_NEAR(kFrames * kFrameSamples, static_cast<int>(decoded.size()), kFrameSamples);
    const double snr = ToneSnrDb(decoded, kSampleRateHz / 2, kSampleRateHz * 2, kToneHz);
    EXPECT_GT(snr, 20.0);
    std::printf("ffmpeg's decoder: %zu packets of 48 bytes and 30 ms, %zu samples, tone SNR %.1f dB\n", whole,
                decoded.size(), snr);
    if (!HasFailure()) std::remove((base + ".ogg").c_str());
    std::remove((base + ".pcm").c_str());
}

}  // namespace
