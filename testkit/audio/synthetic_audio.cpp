#include "testkit/audio/synthetic_audio.h"

#include "testkit/signal/signal_generator.h"
#include "testkit/signal/test_signal.h"
#include "testkit/signal/wav_file.h"
#include "voice/codec/voice_frame.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace voice {

namespace {

constexpr int64_t kMicrosPerSecond = 1000000;
constexpr int kChunkSamples = kSampleRateHz / 100;  // 10 ms
constexpr int kMaxFrequencyHz = kSampleRateHz / 2 - 1;

// A speaker's callback into the host. Closing it waits for a call in
// progress, so once a removal returns no call runs or comes; the lock is
// recursive because a callback may remove its own speaker.
class SpeakerCallback {
public:
    SpeakerCallback(TavolinSpeakerCallback callback, void* context) : callback_(callback), context_(context) {}
    void Call(const int16_t* samples, int count, int64_t monotonicMicros) {
        std::lock_guard lock(mutex_);
        if (callback_) callback_(context_, samples, count, monotonicMicros);
    }
    void Close() {
        std::lock_guard lock(mutex_);
        callback_ = nullptr;
    }

private:
    std::recursive_mutex mutex_;
    TavolinSpeakerCallback callback_;
    void* context_;
};

struct Registration {
    std::string name;
    DeviceKind kind;
    int signal = 0;
    int frequencyHz = 0;
    int markerOffsetMs = -1;
    std::shared_ptr<SpeakerCallback> callback;  // shared with the speakers opened
    std::string wavPath;
    int flags = 0;
    uint64_t generation = 0;  // tells a re-added device from the removed one
};

std::mutex g_lock;
std::vector<Registration> g_devices;
uint64_t g_nextGeneration = 1;

std::optional<Registration> Find(const std::string& name, DeviceKind kind) {
    std::lock_guard lock(g_lock);
    for (const Registration& r : g_devices)
        if (r.name == name && r.kind == kind) return r;
    return std::nullopt;
}

bool StillPresent(const Registration& device) {
    std::lock_guard lock(g_lock);
    for (const Registration& r : g_devices)
        if (r.generation == device.generation) return true;
    return false;
}

// Closed outside the registry's lock: a callback in progress may be adding a device.
void CloseCallbacks(const std::vector<Registration>& removed) {
    for (const Registration& r : removed)
        if (r.callback) r.callback->Close();
}

// How the voice component finds these devices among the sound devices.
const ExtraDevices kSyntheticDevices{&SyntheticDeviceNames, &OpenSyntheticMicrophone, &OpenSyntheticSpeaker};

bool Add(Registration device) {
    SetExtraDevices(&kSyntheticDevices);
    std::lock_guard lock(g_lock);
    for (const Registration& r : g_devices)
        if (r.name == device.name) return false;
    device.generation = g_nextGeneration++;
    g_devices.push_back(std::move(device));
    NoteDeviceChange();
    return true;
}

int64_t MonotonicMicros(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

// Common ground of both synthetic devices: present until removed, and
// possibly made to fail at start.
class SyntheticDevice {
public:
    explicit SyntheticDevice(Registration device) : device_(std::move(device)) {}

protected:
    bool CheckStart(std::string* error) {
        if (device_.flags & TAVOLIN_SYNTHETIC_FAILS_TO_START) {
            *error = device_.name + " fails to start";
            return false;
        }
        if (!StillPresent(device_)) {
            *error = device_.name + " was removed";
            return false;
        }
        failed_ = false;
        return true;
    }
    bool CheckFailed(std::string* error) {
        if (!failed_ && !StillPresent(device_)) failed_ = true;
        if (failed_) *error = device_.name + " was removed";
        return failed_;
    }

    Registration device_;
    std::atomic<bool> failed_{false};
};

class SyntheticMicrophone final : public Microphone, SyntheticDevice {
public:
    explicit SyntheticMicrophone(Registration device)
        : SyntheticDevice(std::move(device)), generator_(device_.signal, device_.frequencyHz, device_.markerOffsetMs) {}
    ~SyntheticMicrophone() override { Stop(); }

    bool Start(SoundCallback onSound, std::string* error) override {
        Stop();
        if (!CheckStart(error)) return false;
        stopping_ = false;
        thread_ = std::thread([this, onSound = std::move(onSound)] { Run(onSound); });
        return true;
    }
    bool Failed(std::string* error) override { return CheckFailed(error); }
    void Stop() override {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(stopLock_);
            stopping_ = true;
        }
        stopWake_.notify_all();
        thread_.join();
    }

private:
    // A 10 ms chunk is handed over once its last sample has been "spoken".
    void Run(const SoundCallback& onSound) {
        constexpr auto kChunk = std::chrono::microseconds(kMicrosPerSecond * kChunkSamples / kSampleRateHz);
        auto chunkStart = std::chrono::steady_clock::now();
        int16_t samples[kChunkSamples];
        std::unique_lock lock(stopLock_);
        while (!stopWake_.wait_until(lock, chunkStart + kChunk, [this] { return stopping_; })) {
            if (!StillPresent(device_)) {
                failed_ = true;
                return;
            }
            const int64_t capturedMicros = MonotonicMicros(chunkStart);
            generator_.Generate(samples, kChunkSamples, capturedMicros);
            chunkStart += kChunk;
            lock.unlock();
            onSound(samples, kChunkSamples, capturedMicros);
            lock.lock();
        }
    }

    SignalGenerator generator_;
    std::thread thread_;
    std::mutex stopLock_;
    std::condition_variable stopWake_;
    bool stopping_ = false;
};

class SyntheticSpeaker final : public Speaker, SyntheticDevice {
public:
    explicit SyntheticSpeaker(Registration device) : SyntheticDevice(std::move(device)) {}

    bool Start(std::string* error) override {
        if (!CheckStart(error)) return false;
        if (!device_.wavPath.empty() && !wav_.Open(device_.wavPath, kSampleRateHz)) {
            *error = device_.name + " cannot write " + device_.wavPath;
            return false;
        }
        return true;
    }
    Playing Play(const int16_t* samples, int count, int64_t monotonicMicros) override {
        if (failed_ || !StillPresent(device_)) {
            failed_ = true;
            return {monotonicMicros, 0, count, false};
        }
        if (device_.callback) device_.callback->Call(samples, count, monotonicMicros);
        if (!device_.wavPath.empty()) wav_.Append(samples, count);
        return {monotonicMicros};
    }
    bool Failed(std::string* error) override { return CheckFailed(error); }
    void Stop() override { wav_.Close(); }

private:
    WavFile wav_;
};

}  // namespace

std::vector<std::string> SyntheticDeviceNames(DeviceKind kind) {
    std::lock_guard lock(g_lock);
    std::vector<std::string> names;
    for (const Registration& r : g_devices)
        if (r.kind == kind) names.push_back(r.name);
    return names;
}

std::unique_ptr<Microphone> OpenSyntheticMicrophone(const std::string& name) {
    std::optional<Registration> device = Find(name, DeviceKind::kMicrophone);
    if (!device) return nullptr;
    return std::make_unique<SyntheticMicrophone>(std::move(*device));
}

std::unique_ptr<Speaker> OpenSyntheticSpeaker(const std::string& name) {
    std::optional<Registration> device = Find(name, DeviceKind::kSpeaker);
    if (!device) return nullptr;
    return std::make_unique<SyntheticSpeaker>(std::move(*device));
}

}  // namespace voice

using voice::DeviceKind;
using voice::Registration;

extern "C" __attribute__((visibility("default"))) int TavolinAddSyntheticMicrophone(const char* name, int signal,
                                                                                    int frequencyHz, int markerOffsetMs,
                                                                                    int flags) {
    if (!name || !*name || signal < TAVOLIN_MIC_TONE || signal > TAVOLIN_MIC_CONVERSATION) return 0;
    if (frequencyHz <= 0 || frequencyHz > voice::kMaxFrequencyHz || markerOffsetMs < -1 || markerOffsetMs > 999 ||
        (flags & ~TAVOLIN_SYNTHETIC_FAILS_TO_START))
        return 0;
    Registration device;
    device.name = name;
    device.kind = DeviceKind::kMicrophone;
    device.signal = signal;
    device.frequencyHz = frequencyHz;
    device.markerOffsetMs = markerOffsetMs;
    device.flags = flags;
    return voice::Add(std::move(device)) ? 1 : 0;
}

extern "C" __attribute__((visibility("default"))) int TavolinAddSyntheticSpeaker(
    const char* name, TavolinSpeakerCallback callback, void* context, const char* wavPath, int flags) {
    if (!name || !*name || (flags & ~TAVOLIN_SYNTHETIC_FAILS_TO_START)) return 0;
    Registration device;
    device.name = name;
    device.kind = DeviceKind::kSpeaker;
    if (callback) device.callback = std::make_shared<voice::SpeakerCallback>(callback, context);
    device.wavPath = wavPath ? wavPath : "";
    device.flags = flags;
    return voice::Add(std::move(device)) ? 1 : 0;
}

extern "C" __attribute__((visibility("default"))) int TavolinRemoveSyntheticAudioDevice(const char* name) {
    if (!name) return 0;
    std::vector<Registration> removed;
    {
        std::lock_guard lock(voice::g_lock);
        for (auto it = voice::g_devices.begin(); it != voice::g_devices.end(); ++it) {
            if (it->name != name) continue;
            removed.push_back(std::move(*it));
            voice::g_devices.erase(it);
            break;
        }
    }
    voice::CloseCallbacks(removed);
    if (removed.empty()) return 0;
    voice::NoteDeviceChange();
    return 1;
}

extern "C" __attribute__((visibility("default"))) void TavolinRemoveSyntheticAudioDevices(void) {
    std::vector<Registration> removed;
    {
        std::lock_guard lock(voice::g_lock);
        removed.swap(voice::g_devices);
    }
    voice::CloseCallbacks(removed);
    voice::NoteDeviceChange();
}
