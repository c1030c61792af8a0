// One remote user's voice: jitter buffer, decoder, loss concealment, level
// and counters. The component calls Receive on the engine thread and Render
// on the playout thread, always under its own lock.
#pragma once

#include "voice/codec/jitter_buffer.h"
#include "voice/codec/level_meter.h"
#include "voice/codec/voice_frame.h"

#include <cstdint>

struct OpusDecoder;

namespace voice {

struct RemoteVoiceCounters {
    uint64_t received = 0;   // accepted into the jitter buffer
    uint64_t late = 0;       // came after their playout time
    uint64_t duplicate = 0;  // a copy of a frame already held
    uint64_t played = 0;     // decoded as they came
    uint64_t lost = 0;       // never came in time
    uint64_t concealed = 0;  // 30 ms stretches made up by the decoder (losses and waits)
    uint64_t skipped = 0;    // dropped to shorten the delay
};

class RemoteVoice {
public:
    RemoteVoice();
    ~RemoteVoice();
    RemoteVoice(const RemoteVoice&) = delete;
    RemoteVoice& operator=(const RemoteVoice&) = delete;

    bool Ready() const { return decoder_ != nullptr; }
    void Receive(const FrameView& frame, int64_t nowMs);
    // The next 30 ms (480 samples) into pcm; false when this user is quiet.
    bool Render(int64_t nowMs, int16_t* pcm);

    const RemoteVoiceCounters& Counters() const { return counters_; }
    const LevelMeter& Level() const { return level_; }
    int TargetDelayMs() const { return buffer_.TargetDelayMs(); }

private:
    bool Decode(const uint8_t* packet, bool fec, int16_t* pcm);

    JitterBuffer buffer_;
    OpusDecoder* decoder_ = nullptr;
    LevelMeter level_;
    RemoteVoiceCounters counters_;
};

}  // namespace voice
