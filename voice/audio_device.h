// Microphones and speakers as the voice component sees them: 16 kHz mono,
// 16-bit samples. A device runs on its own thread (or GStreamer's); the
// component starts, polls and stops it from its playout thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace voice {

// Sound captured by a microphone, any number of samples per call, on the
// device's thread. Never called after Stop returns.
using SoundCallback = std::function<void(const int16_t* samples, int count)>;

// What a microphone's sound goes through before it is coded.
enum class Processing {
    kNone,         // a synthetic microphone: its signal as generated
    kUnavailable,  // webrtcdsp is not installed
    kNoEcho,       // noise suppression and gain control, no speaker to cancel
    kFull,         // echo cancellation as well
};

class Microphone {
public:
    virtual ~Microphone() = default;
    virtual Processing SoundProcessing() const { return Processing::kNone; }
    // False, with the reason in *error, when the device does not run.
    virtual bool Start(SoundCallback onSound, std::string* error) = 0;
    // True once a started device stopped delivering; *error says why.
    virtual bool Failed(std::string* error) = 0;
    virtual void Stop() = 0;
};

class Speaker {
public:
    virtual ~Speaker() = default;
    virtual bool Start(std::string* error) = 0;
    // Whether a microphone may cancel this speaker's echo through the probe.
    virtual bool HasEchoProbe() const { return false; }
    // Sound due now; monotonicMicros is the CLOCK_MONOTONIC time it is due at
    // (the playout clock's, which a late tick catches up on).
    virtual void Play(const int16_t* samples, int count, int64_t monotonicMicros) = 0;
    virtual bool Failed(std::string* error) = 0;
    virtual void Stop() = 0;
};

enum class DeviceKind { kMicrophone = 1, kSpeaker = 2 };

// The device of that name: a synthetic one, else a sound device of that
// display name; the system default for an empty name. Null when no device
// has the name. `echoProbe` names the speaker-side echo probe the microphone
// cancels against (empty: no echo cancellation).
std::unique_ptr<Microphone> OpenMicrophone(const std::string& name, const std::string& echoProbe);
std::unique_ptr<Speaker> OpenSpeaker(const std::string& name, const std::string& echoProbe);

// Sound devices first, then synthetic ones, by name.
std::vector<std::string> ListDevices(DeviceKind kind);

}  // namespace voice
