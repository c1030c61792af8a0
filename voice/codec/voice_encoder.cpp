#include "voice/codec/voice_encoder.h"

#include <opus/opus.h>

#include <random>

namespace voice {

VoiceEncoder::VoiceEncoder() {
    int error = OPUS_OK;
    encoder_ = opus_encoder_create(kSampleRateHz, 1, OPUS_APPLICATION_VOIP, &error);
    repacketizer_ = opus_repacketizer_create();
    if (error != OPUS_OK || !repacketizer_) {
        if (encoder_) opus_encoder_destroy(encoder_);
        encoder_ = nullptr;
        return;
    }
    opus_encoder_ctl(encoder_, OPUS_SET_BITRATE(kBitRate));
    opus_encoder_ctl(encoder_, OPUS_SET_VBR(0));
    opus_encoder_ctl(encoder_, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
    // One bandwidth for every subframe: the three must share one TOC byte.
    opus_encoder_ctl(encoder_, OPUS_SET_BANDWIDTH(OPUS_BANDWIDTH_WIDEBAND));
    opus_encoder_ctl(encoder_, OPUS_SET_INBAND_FEC(1));
    opus_encoder_ctl(encoder_, OPUS_SET_PACKET_LOSS_PERC(kExpectedLossPercent));
    // A random start, as RTP does, so that a restarted sender is not taken
    // for a late copy of its earlier stream.
    sequence_ = static_cast<uint16_t>(std::random_device{}());
}

VoiceEncoder::~VoiceEncoder() {
    if (encoder_) opus_encoder_destroy(encoder_);
    if (repacketizer_) opus_repacketizer_destroy(repacketizer_);
}

bool VoiceEncoder::Encode(const int16_t* pcm, uint8_t* frame) {
    if (!encoder_) return false;
    unsigned char subframes[3][kSubframeBytes];
    opus_repacketizer_init(repacketizer_);
    for (int i = 0; i < 3; ++i) {
        const int bytes =
            opus_encode(encoder_, pcm + i * kOpusSubframeSamples, kOpusSubframeSamples, subframes[i], kSubframeBytes);
        if (bytes <= 0 || opus_repacketizer_cat(repacketizer_, subframes[i], bytes) != OPUS_OK) return false;
    }
    uint8_t* opus = frame + kSequenceBytes;
    const int length = opus_repacketizer_out(repacketizer_, opus, static_cast<opus_int32>(kOpusPacketBytes));
    if (length <= 0 || opus_packet_pad(opus, length, static_cast<opus_int32>(kOpusPacketBytes)) != OPUS_OK)
        return false;
    WriteFrameHeader(sequence_++, frame);
    return true;
}

}  // namespace voice
