// Received voice as PlayAudio meets it: frame parsing, the jitter buffer and
// decoding with concealment, under arbitrary bytes, lengths, orders and
// arrival times. Input: records of [milliseconds since the last one]
// [length][bytes]; playout ticks every 30 ms of that clock.
#include "voice/codec/remote_voice.h"
#include "voice/codec/voice_frame.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    voice::RemoteVoice voice;
    if (!voice.Ready()) return 0;
    int64_t now = 0, nextTick = 0;
    int16_t pcm[voice::kFrameSamples];
    while (size >= 2) {
        now += data[0];
        const size_t length = data[1] < size - 2 ? data[1] : size - 2;
        const uint8_t* bytes = data + 2;
        data += 2 + length;
        size -= 2 + length;
        if (const auto frame = voice::ParseFrame(bytes, length)) voice.Receive(*frame, now);
        for (; nextTick <= now; nextTick += voice::kFrameMs) voice.Render(nextTick, pcm);
        if (voice.TargetDelayMs() < voice::kMinTargetDelayMs || voice.TargetDelayMs() > voice::kMaxTargetDelayMs)
            __builtin_trap();
    }
    return 0;
}
