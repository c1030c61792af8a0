// Microphones and speakers as the voice component sees them: 16 kHz mono,
// 16-bit samples. A device runs on its own thread (the sound server
// connection's, GStreamer's or a synthetic device's); the component starts,
// polls and stops it from its playout thread. Times are CLOCK_MONOTONIC in
// microseconds.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace voice {

// Sound captured by a microphone, any number of samples per call, on the
// device's thread, with the time its first sample was captured. Never
// called after Stop returns.
using SoundCallback = std::function<void(const int16_t* samples, int count, int64_t capturedMicros)>;

// What a microphone's sound goes through before it is coded.
enum class Processing {
    kNone,         // a synthetic microphone: its signal as generated
    kSoundDevice,  // echo cancellation and noise suppression (voice_processor.h)
};

class Microphone {
public:
    virtual ~Microphone() = default;
    virtual Processing SoundProcessing() const { return Processing::kNone; }
    // False, with the reason in *error, when the device does not run. Returns
    // without waiting for the device; one that then does not run is Failed.
    virtual bool Start(SoundCallback onSound, std::string* error) = 0;
    // True once a started device stopped delivering; *error says why.
    virtual bool Failed(std::string* error) = 0;
    virtual void Stop() = 0;
};

// What a speaker made of a piece of sound: the echo canceller's reference is
// what it really plays, sample for sample.
struct Playing {
    int64_t heardMicros = 0;  // when the first sample written is heard
    int silence = 0;          // samples of silence written ahead of the sound
    int skipped = 0;          // samples left out from its start (all of them: none written)
    bool resumed = false;     // what it played before ran out first (or there was nothing)
};

class Speaker {
public:
    virtual ~Speaker() = default;
    virtual bool Start(std::string* error) = 0;
    // Sound due now; monotonicMicros is the time it is due at (the playout
    // clock's, which a late tick catches up on).
    virtual Playing Play(const int16_t* samples, int count, int64_t monotonicMicros) = 0;
    virtual bool Failed(std::string* error) = 0;
    virtual void Stop() = 0;
};

enum class DeviceKind { kMicrophone = 1, kSpeaker = 2 };

// Devices that are no sound hardware (the synthetic ones a host adds), each
// known by a name of its own. Every function is safe on any thread.
struct ExtraDevices {
    std::vector<std::string> (*names)(DeviceKind kind);
    // Null when no device of that kind has the name.
    std::unique_ptr<Microphone> (*openMicrophone)(const std::string& name);
    std::unique_ptr<Speaker> (*openSpeaker)(const std::string& name);
};
// Whoever adds such devices sets their source before the first one; it
// lives as long as the program.
void SetExtraDevices(const ExtraDevices* devices);

// The device of that name: a synthetic one, else a sound device of that
// display name (on the sound server when one answers, else through
// GStreamer); the system default for an empty name. Null when no device has
// the name.
std::unique_ptr<Microphone> OpenMicrophone(const std::string& name);
std::unique_ptr<Speaker> OpenSpeaker(const std::string& name);

// Sound devices first, then synthetic ones, by name.
std::vector<std::string> ListDevices(DeviceKind kind);
// The display name of the system default, when the sound server says.
std::string DefaultDeviceName(DeviceKind kind);
// Whether a device of that name is there now (the default always is).
bool DevicePresent(DeviceKind kind, const std::string& name);

// Counts changes to the set of devices (added, removed, the default moved,
// the sound server lost or found); components compare it with what they saw.
uint64_t DeviceChanges();
void NoteDeviceChange();

}  // namespace voice
