#include "voice/voice_component.h"

#include "voice/engine_registry.h"
#include "voice/voice_factory.h"
#include "voice/voice_log_texts.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace voice {

namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT kMsgLogOut = 0x0400 + 0x2C1;  // WM_USER-based, private to the component's window
constexpr auto kTick = std::chrono::milliseconds(kFrameMs);
// A playout thread that fell this far behind restarts its clock instead of
// rendering the missed ticks in a burst.
constexpr auto kMaxLag = std::chrono::milliseconds(200);
constexpr int kLocalUser = -1;

std::atomic<unsigned> g_instanceCount{0};

int64_t Millis(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

int64_t Micros(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

}  // namespace

CVoiceEngine::CVoiceEngine() {
    const unsigned instance = g_instanceCount.fetch_add(1);
    className_ = "TavolinVoice" + std::to_string(instance);
}

CVoiceEngine::~CVoiceEngine() { Destroy(); }

HRESULT CVoiceEngine::QueryInterface(const IID& iid, void** out) {
    if (!out) return E_INVALIDARG;
    if (!IsEqualGUID(iid, IID_ITavolinAudioEngine) && !IsEqualGUID(iid, IID_IUnknown)) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    *out = static_cast<ITavolinAudioEngine*>(this);
    AddRef();
    return S_OK;
}

ULONG CVoiceEngine::AddRef() { return ++refCount_; }

ULONG CVoiceEngine::Release() {
    const ULONG left = --refCount_;
    if (left == 0) delete this;
    return left;
}

int CVoiceEngine::Init(HWND, HWND, ITavolinAudioSink* sink) {
    if (window_) return 0;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &CVoiceEngine::WindowProc;
    wc.lpszClassName = className_.c_str();
    if (!RegisterClassExA(&wc)) return 0;
    window_ = CreateWindowExA(0, className_.c_str(), "VoiceWnd", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (!window_) {
        UnregisterClassA(className_.c_str(), nullptr);
        return 0;
    }
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    sink_ = sink;
    stopping_ = false;
    deviceChangesSeen_ = DeviceChanges();
    playout_ = std::thread([this] { PlayoutLoop(); });
    devices_ = std::thread([this] { DeviceLoop(); });
    return 1;
}

int CVoiceEngine::SetEngine(ITavolinEngine* engine) {
    engine_ = engine;
    if (engine) RegisterEngine(engine, this);
    return 1;
}

int CVoiceEngine::Destroy() {
    UnregisterComponent(this);
    sending_ = false;
    if (playout_.joinable()) {
        {
            std::lock_guard lock(stopLock_);
            stopping_ = true;
        }
        stopWake_.notify_all();
        playout_.join();
        devices_.join();  // the device thread closes the devices on its way out
    }
    if (window_) {
        HWND window = std::exchange(window_, nullptr);
        DeliverNotices();  // log texts of the devices' last moments
        DestroyWindow(window);
        UnregisterClassA(className_.c_str(), nullptr);
    }
    {
        std::lock_guard lock(noticeLock_);
        notices_.clear();
        eventListener_ = nullptr;
    }
    std::lock_guard lock(usersLock_);
    users_.clear();
    sink_ = nullptr;
    engine_ = nullptr;
    return 1;
}

int CVoiceEngine::PlayAudio(int userId, const uint8_t* data, int length) {
    // The engine only passes users it knows; a user it no longer has is
    // dropped, so that no buffer outlives RemoveUser.
    const bool known = userId != kLocalUser && (!engine_ || engine_->HasUser(userId));
    std::lock_guard lock(usersLock_);
    if (length != static_cast<int>(kFrameBytes)) {
        ++droppedWrongLength_;
        return 0;
    }
    if (!known) {
        ++droppedUnknownUser_;
        return 0;
    }
    const std::optional<FrameView> frame = ParseFrame(data, kFrameBytes);
    if (!frame) {
        ++invalidFrames_[userId];
        return 0;
    }
    auto found = users_.find(userId);
    if (found == users_.end()) {
        auto voice = std::make_unique<MixChannel>();
        if (users_.size() >= kMaxRemoteUsers || !voice->Ready()) {
            ++droppedUnknownUser_;
            return 0;
        }
        found = users_.emplace(userId, std::move(voice)).first;
    }
    found->second->Voice().Receive(*frame, Millis(Clock::now()));
    return 1;
}

int CVoiceEngine::RemoveUser(int userId) {
    std::lock_guard lock(usersLock_);
    invalidFrames_.erase(userId);
    return users_.erase(userId) ? 1 : 0;
}

int CVoiceEngine::StartSend() {
    sending_ = true;
    return 1;
}

int CVoiceEngine::StopSend() {
    sending_ = false;
    return 1;
}

int CVoiceEngine::Reserved() { return 0; }

// The local level is that of what goes out, the remote ones as heard: a
// view shows who is talking, and a muted player as silent.
int CVoiceEngine::GetLevel(int userId, int scale) {
    if (userId == kLocalUser) return sending_ ? sender_.Level().Level(scale) : 0;
    std::lock_guard lock(usersLock_);
    const auto found = users_.find(userId);
    return found == users_.end() ? 0 : found->second->Heard().Level(scale);
}

void CVoiceEngine::SelectDevice(DeviceKind kind, const std::string& name) {
    std::lock_guard lock(devicesLock_);
    DeviceState& state = kind == DeviceKind::kMicrophone ? microphone_ : speaker_;
    state.name = name;
    state.opened = name;
    state.defaultName.clear();
    state.failing = false;
    Reopen(state, {});
    if (kind == DeviceKind::kSpeaker) speakerWanted_ = true;
}

void CVoiceEngine::SetLogSink(ITavolinLogSink* sink) {
    std::lock_guard lock(noticeLock_);
    logSink_ = sink;
}

void CVoiceEngine::SetEventListener(ITavolinEventListener* listener) {
    std::lock_guard lock(noticeLock_);
    eventListener_ = listener;
}

bool CVoiceEngine::GetStats(int userId, TavolinVoiceStats* out) {
    *out = TavolinVoiceStats{};
    if (userId == kLocalUser) {
        out->framesSent = sender_.Counters().sent;
        std::lock_guard lock(usersLock_);
        out->droppedWrongLength = droppedWrongLength_;
        out->droppedUnknownUser = droppedUnknownUser_;
        return true;
    }
    std::lock_guard lock(usersLock_);
    if (const auto invalid = invalidFrames_.find(userId); invalid != invalidFrames_.end())
        out->framesInvalid = invalid->second;
    const auto found = users_.find(userId);
    if (found == users_.end()) return out->framesInvalid > 0;
    const RemoteVoiceCounters& c = found->second->Voice().Counters();
    out->framesReceived = c.received;
    out->framesLate = c.late;
    out->framesDuplicate = c.duplicate;
    out->framesPlayed = c.played;
    out->framesLost = c.lost;
    out->framesConcealed = c.concealed;
    out->framesSkipped = c.skipped;
    out->jitterDelayMs = found->second->Voice().TargetDelayMs();
    return true;
}

void CVoiceEngine::SetUserVolume(int userId, int percent) {
    std::lock_guard lock(usersLock_);
    choices_[userId].volumePercent = std::clamp(percent, 0, kMaxVolumePercent);
}

void CVoiceEngine::MuteUser(int userId, bool muted) {
    std::lock_guard lock(usersLock_);
    choices_[userId].muted = muted;
}

// usersLock_ held.
ListenerChoice CVoiceEngine::ChoiceFor(int userId) const {
    const auto choice = choices_.find(userId);
    return choice == choices_.end() ? ListenerChoice{} : choice->second;
}

// Fills what fits in out->size bytes, so that a host built with a shorter
// struct keeps working.
bool CVoiceEngine::GetControlStats(int userId, TavolinVoiceControlStats* out) {
    TavolinVoiceControlStats stats{};
    stats.size = out->size;
    bool known = true;
    if (userId == kLocalUser) {
        const SenderCounters& c = sender_.Counters();
        stats.framesSent = c.sent;
        stats.framesSuppressed = c.suppressed;
        stats.framesMuted = c.muted;
        stats.transmitMode = static_cast<int32_t>(transmitMode_.load());
        stats.microphoneMuted = microphoneMuted_ ? 1 : 0;
    } else {
        std::lock_guard lock(usersLock_);
        const ListenerChoice chosen = ChoiceFor(userId);
        stats.volumePercent = chosen.volumePercent;
        stats.userMuted = chosen.muted ? 1 : 0;
        const auto found = users_.find(userId);
        known = found != users_.end() || choices_.count(userId) > 0;
        if (found != users_.end()) {
            stats.framesHeard = found->second->FramesHeard();
            stats.framesNotDecoded = found->second->Voice().Counters().notDecoded;
            stats.levellingGainDb = found->second->LevellingGainDb();
        }
    }
    std::memcpy(out, &stats, std::min<size_t>(out->size, sizeof stats));
    return known;
}

// ---- Engine thread: the component's window --------------------------------

LRESULT CVoiceEngine::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CVoiceEngine*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message != kMsgLogOut || !self) return DefWindowProcA(window, message, wParam, lParam);
    // The host may destroy or release the engine from inside its sink or
    // listener: the component lives until this delivery is over, and
    // delivers nothing more once destroyed.
    self->AddRef();
    self->DeliverNotices();
    self->Release();
    return 1;
}

// Nothing is called with noticeLock_ held: the sink and listener are the host's.
void CVoiceEngine::DeliverNotices() {
    for (;;) {
        Notice notice;
        ITavolinLogSink* logSink = nullptr;
        ITavolinEventListener* listener = nullptr;
        {
            std::lock_guard lock(noticeLock_);
            if (notices_.empty()) return;
            notice = std::move(notices_.front());
            notices_.pop_front();
            logSink = logSink_;
            listener = eventListener_;
        }
        if (notice.eventKind == 0) {
            if (logSink) logSink->Log("%s", notice.text.c_str());
            continue;
        }
        if (!listener) continue;
        const TavolinEvent event{notice.eventKind, -1, TAVOLIN_MEDIUM_VOICE, 0, notice.deviceKind, notice.text.c_str()};
        listener->OnEvent(&event);
    }
}

// Any thread: delivered on the engine thread.
void CVoiceEngine::Post(Notice notice) {
    HWND window = nullptr;
    {
        std::lock_guard lock(noticeLock_);
        notices_.push_back(std::move(notice));
        window = window_;
    }
    if (window) PostMessageA(window, kMsgLogOut, 0, 0);
}

void CVoiceEngine::Raise(int eventKind, const DeviceState& state, const std::string& device, std::string text) {
    Log(std::move(text));
    Post({eventKind, static_cast<int>(state.kind), device});
}

// ---- Microphone thread ------------------------------------------------------

void CVoiceEngine::OnCapturedSound(const int16_t* samples, int count, int64_t capturedMicros) {
    if (!processMicrophone_) return CodeSound(samples, count);
    processor_.Captured(samples, count, capturedMicros, [this](const int16_t* clean, int n) { CodeSound(clean, n); });
}

void CVoiceEngine::CodeSound(const int16_t* samples, int count) {
    while (count > 0) {
        const int take = std::min(count, kFrameSamples - capturedCount_);
        std::copy_n(samples, take, captured_.begin() + capturedCount_);
        capturedCount_ += take;
        samples += take;
        count -= take;
        if (capturedCount_ < kFrameSamples) return;
        capturedCount_ = 0;
        if (!sending_ || !sink_) continue;
        const SenderControls controls{transmitMode_, keyDown_, microphoneMuted_};
        // Straight to the wire from here: a frame that waited for a busy
        // engine thread would reach every listener late.
        sender_.Frame(captured_.data(), controls,
                      [this](const uint8_t* frame) { sink_->OnEncodedAudio(frame, static_cast<int>(kFrameBytes)); });
    }
}

// ---- Playout thread -----------------------------------------------------------

void CVoiceEngine::PlayoutLoop() {
    Clock::time_point next = Clock::now();
    std::unique_lock lock(stopLock_);
    for (;;) {
        next += kTick;
        if (stopWake_.wait_until(lock, next, [this] { return stopping_; })) break;
        lock.unlock();
        const Clock::time_point now = Clock::now();
        if (now - next > kMaxLag) next = now;
        RenderTick(next);
        lock.lock();
    }
}

// A tick that runs late still renders the frame due at its scheduled time:
// the sound follows the playout clock, not the thread's lateness, as a
// device's buffer would play it. Only a restarted clock leaves a gap.
void CVoiceEngine::RenderTick(Clock::time_point due) {
    std::array<int32_t, kFrameSamples> sum{};
    bool audible = false;
    {
        std::lock_guard lock(usersLock_);
        const bool levelling = levelling_;
        for (auto& [id, user] : users_)
            if (user->MixInto(Millis(due), ChoiceFor(id), levelling, sum.data())) audible = true;
    }
    if (audible) speakerWanted_ = true;
    std::array<int16_t, kFrameSamples> mix;
    MixSaturating(sum.data(), mix.data(), kFrameSamples);
    std::lock_guard lock(speakerLock_);
    if (!openSpeaker_) return;
    // What the speaker plays is what the microphone's echo canceller hears of it.
    processor_.Played(mix.data(), kFrameSamples, openSpeaker_->Play(mix.data(), kFrameSamples, Micros(due)));
}

// False once the component is stopping.
bool CVoiceEngine::Sleep(std::chrono::milliseconds time) {
    std::unique_lock lock(stopLock_);
    return !stopWake_.wait_for(lock, time, [this] { return stopping_; });
}

void CVoiceEngine::DeviceLoop() {
    do {
        const Clock::time_point now = Clock::now();
        WatchDevices(now);
        KeepMicrophone(now);
        KeepSpeaker(now);
    } while (Sleep(kTick));
    if (openMicrophone_) openMicrophone_->Stop();
    std::unique_ptr<Speaker> speaker;
    {
        std::lock_guard lock(speakerLock_);
        speaker = std::move(openSpeaker_);
    }
    if (speaker) speaker->Stop();
    openMicrophone_.reset();
}

// When devices came or went (or the sound server did): a chosen device that
// is gone gives way to the system default, and is used again once back; a
// host that chose the default follows the system's. Failing devices are
// tried again at once, as the sound server may be back.
void CVoiceEngine::WatchDevices(Clock::time_point now) {
    const uint64_t changes = DeviceChanges();
    if (changes == deviceChangesSeen_) return;
    deviceChangesSeen_ = changes;
    std::lock_guard lock(devicesLock_);
    for (DeviceState* state : {&microphone_, &speaker_}) FollowDevice(*state, now);
}

// devicesLock_ held.
void CVoiceEngine::FollowDevice(DeviceState& state, Clock::time_point now) {
    if (state.failing) {
        state.retryAfter = kFirstRetry;
        state.nextTry = now;
    }
    if (!state.name.empty()) {
        const bool present = DevicePresent(state.kind, state.name);
        // Only a device that worked can go; a failing one is tried again.
        if (state.opened == state.name && !present && !state.failing) {
            Raise(TAVOLIN_EVENT_VOICE_DEVICE_GONE, state, state.name, log_text::DeviceGone(state.what, state.name));
            state.opened.clear();
            Reopen(state, now);
        } else if (state.opened.empty() && present) {
            Raise(TAVOLIN_EVENT_VOICE_DEVICE_BACK, state, state.name, log_text::DeviceBack(state.what, state.name));
            state.opened = state.name;
            Reopen(state, now);
        }
        return;
    }
    const std::string systemDefault = DefaultDeviceName(state.kind);
    if (systemDefault.empty() || systemDefault == state.defaultName) return;
    const bool changed = !state.defaultName.empty();
    state.defaultName = systemDefault;
    if (!changed) return;
    Raise(TAVOLIN_EVENT_VOICE_DEFAULT_CHANGED, state, systemDefault,
          log_text::DefaultChanged(state.what, systemDefault));
    Reopen(state, now);
}

// devicesLock_ held.
void CVoiceEngine::Reopen(DeviceState& state, Clock::time_point now) {
    state.reopen = true;
    state.retryAfter = kFirstRetry;
    state.nextTry = now;
}

// The microphone runs while sending is on; a failed one is retried with a
// growing wait, and nothing is sent meanwhile.
void CVoiceEngine::KeepMicrophone(Clock::time_point now) {
    std::unique_lock lock(devicesLock_);
    const bool reopen = std::exchange(microphone_.reopen, false);
    std::string why;
    if (openMicrophone_ && (reopen || !sending_ || openMicrophone_->Failed(&why))) {
        lock.unlock();
        openMicrophone_->Stop();  // no sound callback after this
        openMicrophone_.reset();
        lock.lock();
        if (!why.empty()) OnDeviceFailed(microphone_, why, now);
    }
    if (openMicrophone_ || !sending_ || now < microphone_.nextTry) return;
    const std::string name = microphone_.opened;
    lock.unlock();
    std::unique_ptr<Microphone> device = OpenMicrophone(name);
    capturedCount_ = 0;
    sender_.Restart();
    processMicrophone_ = device && device->SoundProcessing() == Processing::kSoundDevice;
    if (processMicrophone_) processor_.Restart();
    const bool started =
        device && device->Start([this](const int16_t* s, int n, int64_t at) { OnCapturedSound(s, n, at); }, &why);
    lock.lock();
    // The host picked another microphone meanwhile: that one is next.
    if (microphone_.opened != name || microphone_.reopen) {
        if (started) device->Stop();
        return;
    }
    if (!device) why = "no such device";
    if (!started) return OnDeviceFailed(microphone_, why, now);
    openMicrophone_ = std::move(device);
    OnDeviceStarted(microphone_);
    if (processMicrophone_) Log(log_text::kProcessingOn);
}

// The speaker opens with the first sound to play (or when the host picks
// one) and then stays open; a failed one is retried like the microphone.
// A new speaker is started before the one it replaces stops, so that
// playout goes on meanwhile.
void CVoiceEngine::KeepSpeaker(Clock::time_point now) {
    std::unique_lock lock(devicesLock_);
    std::string why;
    std::unique_ptr<Speaker> broken;
    {
        std::lock_guard playing(speakerLock_);
        if (openSpeaker_ && openSpeaker_->Failed(&why))
            broken = std::move(openSpeaker_);
        else if (openSpeaker_ && !speaker_.reopen)
            return;
    }
    if (broken) {
        lock.unlock();
        broken->Stop();
        lock.lock();
        OnDeviceFailed(speaker_, why, now);
    }
    if (!speakerWanted_ || now < speaker_.nextTry) return;
    const std::string name = speaker_.opened;
    speaker_.reopen = false;
    lock.unlock();
    std::unique_ptr<Speaker> device = OpenSpeaker(name);
    const bool started = device && device->Start(&why);
    lock.lock();
    // The host picked another speaker meanwhile: that one is next.
    if (speaker_.opened != name || speaker_.reopen) {
        if (started) device->Stop();
        return;
    }
    if (!device) why = "no such device";
    if (!started) {
        speaker_.reopen = true;
        return OnDeviceFailed(speaker_, why, now);
    }
    {
        std::lock_guard playing(speakerLock_);
        std::swap(openSpeaker_, device);
    }
    OnDeviceStarted(speaker_);
    lock.unlock();
    if (device) device->Stop();  // the one it replaced
}

// devicesLock_ held. Logs the first failure of a run of failures only.
void CVoiceEngine::OnDeviceFailed(DeviceState& state, const std::string& why, Clock::time_point now) {
    if (!state.failing) Log(log_text::DeviceFailed(state.what, state.opened, why));
    state.failing = true;
    state.nextTry = now + state.retryAfter;
    state.retryAfter = std::min(state.retryAfter * 2, kLongestRetry);
}

void CVoiceEngine::OnDeviceStarted(DeviceState& state) {
    if (state.failing) Log(log_text::DeviceWorks(state.what, state.opened));
    state.failing = false;
    state.retryAfter = kFirstRetry;
}

HRESULT CreateVoiceComponent(const IID* iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* component = new (std::nothrow) CVoiceEngine;
    if (!component) return E_OUTOFMEMORY;
    const HRESULT result = component->QueryInterface(iid ? *iid : IID_IUnknown, out);
    component->Release();
    return result;
}

}  // namespace voice
