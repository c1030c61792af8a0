// One remote user's voice: jitter buffer, decoder, loss concealment and
// counters. The component calls Receive on the engine thread and Render
// on the playout thread, always under its own lock.
//
// A wait for a frame that has not come is concealed at full level once;
// the next fades to silence and the ones after are silent, so a talker who
// stopped sending (a pause in voice activity, a released push-to-talk key)
// ends cleanly instead of in a long made-up sound. Sound that follows such
// a silence fades in.
#pragma once

#include "voice/codec/jitter_buffer.h"
#include "voice/codec/voice_frame.h"

#include <cstdint>

struct OpusDecoder;

namespace voice {

struct RemoteVoiceCounters {
    uint64_t received = 0;    // accepted into the jitter buffer
    uint64_t late = 0;        // came after their playout time
    uint64_t duplicate = 0;   // a copy of a frame already held
    uint64_t played = 0;      // decoded as they came
    uint64_t lost = 0;        // never came in time
    uint64_t concealed = 0;   // 30 ms stretches made up by the decoder (losses and waits)
    uint64_t skipped = 0;     // dropped to shorten the delay
    uint64_t notDecoded = 0;  // taken in turn but not decoded (Pass)
};

// Waits concealed at full level before the fade to silence.
inline constexpr int kFullLevelWaits = 1;
// Sound after a silence fades in over 2.5 ms.
inline constexpr int kFadeInSamples = 40;

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
    // The next 30 ms taken in turn without decoding (nobody listens to it).
    void Pass(int64_t nowMs);

    const RemoteVoiceCounters& Counters() const { return counters_; }
    int TargetDelayMs() const { return buffer_.TargetDelayMs(); }

private:
    bool Decode(const uint8_t* packet, bool fec, int16_t* pcm);
    bool Wait(int16_t* pcm);
    void FadeIn(int16_t* pcm);

    JitterBuffer buffer_;
    OpusDecoder* decoder_ = nullptr;
    RemoteVoiceCounters counters_;
    int waits_ = 0;       // in a row
    bool silent_ = true;  // the latest 30 ms were silence
};

}  // namespace voice
