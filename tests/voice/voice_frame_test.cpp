// The 50-byte frame: what the encoder writes is what the parser and any Opus
// decoder read.
#include "voice/codec/voice_encoder.h"
#include "voice/codec/voice_frame.h"

#include <gtest/gtest.h>
#include <opus/opus.h>

#include <array>
#include <cmath>
#include <numbers>

namespace {
using namespace voice;

std::array<int16_t, kFrameSamples> Tone(int frame) {
    std::array<int16_t, kFrameSamples> pcm{};
    for (int i = 0; i < kFrameSamples; ++i)
        pcm[static_cast<size_t>(i)] = static_cast<int16_t>(
            8000 * std::sin(2 * std::numbers::pi * 440 * (frame * kFrameSamples + i) / kSampleRateHz));
    return pcm;
}

TEST(VoiceFrame, CarriesASequenceNumberAndOneOpusPacketOfThreeTenMillisecondFrames) {
    VoiceEncoder encoder;
    ASSERT_TRUE(encoder.Ready());
    std::array<uint8_t, kFrameBytes> first{}, second{};
    ASSERT_TRUE(encoder.Encode(Tone(0).data(), first.data()));
    ASSERT_TRUE(encoder.Encode(Tone(1).data(), second.data()));
    const auto a = ParseFrame(first.data(), first.size());
    const auto b = ParseFrame(second.data(), second.size());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(static_cast<uint16_t>(a->sequence + 1), b->sequence);
    EXPECT_EQ(a->sequence, first[0] << 8 | first[1]);  // big-endian in bytes 0 and 1
    const uint8_t* opus = first.data() + 2;
    EXPECT_EQ(3, opus_packet_get_nb_frames(opus, 48));
    EXPECT_EQ(160, opus_packet_get_samples_per_frame(opus, kSampleRateHz));
    EXPECT_EQ(3, opus[0] & 0x3);  // code 3: a counted number of frames, padding allowed
    // A plain Opus decoder reads the 48 bytes as they are.
    int error = 0;
    OpusDecoder* decoder = opus_decoder_create(kSampleRateHz, 1, &error);
    std::array<int16_t, kFrameSamples> pcm{};
    EXPECT_EQ(kFrameSamples, opus_decode(decoder, opus, 48, pcm.data(), kFrameSamples, 0));
    opus_decoder_destroy(decoder);
}

TEST(VoiceFrame, RejectsWrongLengthsAndBytesThatAreNoThirtyMillisecondPacket) {
    VoiceEncoder encoder;
    std::array<uint8_t, kFrameBytes> frame{};
    ASSERT_TRUE(encoder.Encode(Tone(0).data(), frame.data()));
    EXPECT_FALSE(ParseFrame(frame.data(), 49));
    EXPECT_FALSE(ParseFrame(frame.data(), 51));
    EXPECT_FALSE(ParseFrame(nullptr, 50));
    std::array<uint8_t, kFrameBytes> zeros{};  // one 10 ms packet, not 30 ms
    EXPECT_FALSE(ParseFrame(zeros.data(), zeros.size()));
    std::array<uint8_t, kFrameBytes> overrun = frame;
    overrun[3] = 0x03 | 0x40;  // three frames plus padding ...
    overrun[4] = 0xFF;         // ... whose length runs past the end
    EXPECT_FALSE(ParseFrame(overrun.data(), overrun.size()));
}

TEST(VoiceFrame, SequenceOrderHoldsAcrossTheWrap) {
    EXPECT_TRUE(SequenceAfter(0, 65535));
    EXPECT_FALSE(SequenceAfter(65535, 0));
    EXPECT_EQ(2, SequenceDistance(1, 65535));
    EXPECT_EQ(-2, SequenceDistance(65535, 1));
}

}  // namespace
