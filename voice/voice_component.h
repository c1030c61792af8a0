// The library's voice component: ITavolinAudioEngine over Opus-coded 50-byte
// frames (layout in voice_frame.h).
//
// Threads:
// - the engine thread makes every ITavolinAudioEngine call and runs the
//   component's own hidden window, from which log texts and device events
//   reach the host;
// - the microphone's thread cleans and codes sound into frames and hands
//   each to the engine's sink (OnEncodedAudio, which may be called from any
//   thread);
// - the playout thread, every 30 ms, takes one frame per remote user from
//   the jitter buffers, decodes, mixes and plays it, and nothing else, so
//   that no device work can make it late;
// - the device thread opens, watches, follows and reopens the devices. No
//   device work ever blocks the engine thread or the playout thread.
#pragma once

#include "voice/audio_device.h"
#include "voice/codec/mix_channel.h"
#include "voice/codec/voice_sender.h"
#include "voice/voice_processor.h"

#include "platform/win32.h"

#include <tavolin/tavolin.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace voice {

// At most this many remote users are heard (the engine has 15).
inline constexpr size_t kMaxRemoteUsers = 15;
// Waits before a failed device is tried again: doubling from 1 s to 16 s.
inline constexpr std::chrono::milliseconds kFirstRetry{1000};
inline constexpr std::chrono::milliseconds kLongestRetry{16000};

class CVoiceEngine final : public ITavolinAudioEngine {
public:
    CVoiceEngine();

    // ITavolinAudioEngine
    HRESULT QueryInterface(const IID& iid, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;
    int Init(HWND window, HWND window2, ITavolinAudioSink* sink) override;
    int PlayAudio(int userId, const uint8_t* data, int length) override;
    int RemoveUser(int userId) override;
    int SetEngine(ITavolinEngine* engine) override;
    int Destroy() override;
    int StartSend() override;
    int StopSend() override;
    int Reserved() override;
    int GetLevel(int userId, int scale) override;

    // Host functions (any thread).
    void SelectDevice(DeviceKind kind, const std::string& name);
    void SetLogSink(ITavolinLogSink* sink);
    void SetEventListener(ITavolinEventListener* listener);
    bool GetStats(int userId, TavolinVoiceStats* out);
    void SetTransmitMode(TransmitMode mode) { transmitMode_ = mode; }
    void SetTalking(bool talking) { keyDown_ = talking; }
    void MuteMicrophone(bool muted) { microphoneMuted_ = muted; }
    void SetUserVolume(int userId, int percent);
    void MuteUser(int userId, bool muted);
    void SetLevelling(bool on) { levelling_ = on; }
    bool GetControlStats(int userId, TavolinVoiceControlStats* out);

private:
    using Clock = std::chrono::steady_clock;

    ~CVoiceEngine();

    struct DeviceState {
        DeviceState(DeviceKind k, const char* w) : kind(k), what(w) {}
        DeviceKind kind;
        const char* what;         // for log texts
        std::string name;         // the host's choice, "" for the system default
        std::string opened;       // what to open: name, or "" while name's device is gone
        std::string defaultName;  // the system default last seen
        bool reopen = false;
        bool failing = false;  // failure already logged
        std::chrono::milliseconds retryAfter = kFirstRetry;
        Clock::time_point nextTry{};
    };

    // For the engine thread: a log text, or a device event with its text.
    struct Notice {
        int eventKind = 0;  // 0 for a log text
        int deviceKind = 0;
        std::string text;
    };

    static LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void DeliverNotices();
    void Post(Notice notice);
    void Log(std::string text) { Post({0, 0, std::move(text)}); }
    void Raise(int eventKind, const DeviceState& state, const std::string& device, std::string text);

    void PlayoutLoop();
    void RenderTick(Clock::time_point due);
    void DeviceLoop();
    void WatchDevices(Clock::time_point now);
    void FollowDevice(DeviceState& state, Clock::time_point now);
    void KeepMicrophone(Clock::time_point now);
    void KeepSpeaker(Clock::time_point now);
    void Reopen(DeviceState& state, Clock::time_point now);
    void OnDeviceFailed(DeviceState& state, const std::string& why, Clock::time_point now);
    void OnDeviceStarted(DeviceState& state);
    ListenerChoice ChoiceFor(int userId) const;
    void OnCapturedSound(const int16_t* samples, int count, int64_t capturedMicros);
    void CodeSound(const int16_t* samples, int count);
    bool Sleep(std::chrono::milliseconds time);

    std::atomic<ULONG> refCount_{1};

    // Engine thread only; sink_ is also read by the microphone's thread, which
    // runs only between Init and Destroy.
    HWND window_ = nullptr;
    std::string className_;
    ITavolinAudioSink* sink_ = nullptr;
    ITavolinEngine* engine_ = nullptr;

    // Log texts and events on their way to the engine thread.
    std::mutex noticeLock_;
    std::deque<Notice> notices_;
    ITavolinLogSink* logSink_ = nullptr;
    ITavolinEventListener* eventListener_ = nullptr;

    // Remote users: PlayAudio and RemoveUser on the engine thread, Render on
    // the playout thread, GetLevel and stats on either. The listener's
    // choices outlive a user's removal.
    std::mutex usersLock_;
    std::map<int, std::unique_ptr<MixChannel>> users_;
    std::map<int, ListenerChoice> choices_;
    std::atomic<bool> levelling_{true};
    std::map<int, uint64_t> invalidFrames_;
    uint64_t droppedWrongLength_ = 0;
    uint64_t droppedUnknownUser_ = 0;

    // Microphone thread only, between Start and Stop of the microphone; the
    // host's controls from any thread.
    VoiceSender sender_;
    std::array<int16_t, kFrameSamples> captured_{};
    int capturedCount_ = 0;
    std::atomic<bool> sending_{false};
    std::atomic<TransmitMode> transmitMode_{TransmitMode::kAlways};
    std::atomic<bool> keyDown_{false};
    std::atomic<bool> microphoneMuted_{false};
    bool processMicrophone_ = false;
    // Fed by the playout thread, used by the microphone's.
    VoiceProcessor processor_;

    // Device thread; the host's choices and reopen requests under devicesLock_.
    std::mutex devicesLock_;
    DeviceState microphone_{DeviceKind::kMicrophone, "microphone"};
    DeviceState speaker_{DeviceKind::kSpeaker, "speaker"};
    std::atomic<bool> speakerWanted_{false};
    uint64_t deviceChangesSeen_ = 0;
    std::unique_ptr<Microphone> openMicrophone_;
    // Swapped by the device thread, played by the playout thread.
    std::mutex speakerLock_;
    std::unique_ptr<Speaker> openSpeaker_;

    std::thread playout_;
    std::thread devices_;
    std::mutex stopLock_;
    std::condition_variable stopWake_;
    bool stopping_ = false;
};

}  // namespace voice
