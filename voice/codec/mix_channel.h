// One remote player on the way into the listener's mix: their voice decoded
// (not while muted), levelled, scaled by the listener's volume for them,
// and metered as heard. Gain changes ramp over the start of a frame, so
// that neither a cut nor a new volume clicks.
#pragma once

#include "voice/codec/level_meter.h"
#include "voice/codec/remote_voice.h"
#include "voice/codec/voice_leveller.h"

#include <cstdint>

namespace voice {

inline constexpr int kMaxVolumePercent = 200;
inline constexpr int kGainRampSamples = 32;  // 2 ms

// What the listener chose for a player.
struct ListenerChoice {
    int volumePercent = 100;
    bool muted = false;
};

class MixChannel {
public:
    bool Ready() const { return voice_.Ready(); }
    RemoteVoice& Voice() { return voice_; }
    const RemoteVoice& Voice() const { return voice_; }

    // The player's next 30 ms added into sum (kFrameSamples values); false
    // when nothing of them was heard.
    bool MixInto(int64_t nowMs, const ListenerChoice& choice, bool levelling, int32_t* sum);

    const LevelMeter& Heard() const { return heard_; }
    // The levelling gain of the latest frame heard (0 while levelling is off).
    double LevellingGainDb() const { return levellingGainDb_; }
    uint64_t FramesHeard() const { return framesHeard_; }

private:
    RemoteVoice voice_;
    VoiceLeveller leveller_;
    LevelMeter heard_;
    double gain_ = 1.0;  // of the latest frame heard; the next one ramps from it
    double levellingGainDb_ = 0;
    uint64_t framesHeard_ = 0;
};

}  // namespace voice
