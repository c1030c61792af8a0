#include "voice/codec/voice_frame.h"

#include <opus/opus.h>

namespace voice {

std::optional<FrameView> ParseFrame(const uint8_t* data, size_t length) {
    if (!data || length != kFrameBytes) return std::nullopt;
    const uint8_t* opus = data + kSequenceBytes;
    // opus_packet_parse walks the whole packet, padding included, so a frame
    // that passes here decodes without reading past its 48 bytes.
    unsigned char toc = 0;
    const unsigned char* frames[48];
    opus_int16 sizes[48];
    int payloadOffset = 0;
    const int count =
        opus_packet_parse(opus, static_cast<opus_int32>(kOpusPacketBytes), &toc, frames, sizes, &payloadOffset);
    if (count <= 0) return std::nullopt;
    if (opus_packet_get_nb_samples(opus, static_cast<opus_int32>(kOpusPacketBytes), kSampleRateHz) != kFrameSamples)
        return std::nullopt;
    const uint16_t sequence = static_cast<uint16_t>(data[0] << 8 | data[1]);
    return FrameView{sequence, std::span<const uint8_t, kOpusPacketBytes>(opus, kOpusPacketBytes)};
}

void WriteFrameHeader(uint16_t sequence, uint8_t* frame) {
    frame[0] = static_cast<uint8_t>(sequence >> 8);
    frame[1] = static_cast<uint8_t>(sequence);
}

}  // namespace voice
