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
    echoProbe_ = "tavolin-echo-" + std::to_string(instance);
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
    playout_ = std::thread([this] { PlayoutLoop(); });
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
        playout_.join();  // the playout thread closes the devices on its way out
    }
    if (window_) {
        DeliverLogs();  // log texts of the devices' last moments
        DestroyWindow(window_);
        UnregisterClassA(className_.c_str(), nullptr);
        window_ = nullptr;
    }
    {
        std::lock_guard lock(logLock_);
        outLogs_.clear();
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
        auto voice = std::make_unique<RemoteVoice>();
        if (users_.size() >= kMaxRemoteUsers || !voice->Ready()) {
            ++droppedUnknownUser_;
            return 0;
        }
        found = users_.emplace(userId, std::move(voice)).first;
    }
    found->second->Receive(*frame, Millis(Clock::now()));
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

int CVoiceEngine::GetLevel(int userId, int scale) {
    if (userId == kLocalUser) return sending_ ? localLevel_.Level(scale) : 0;
    std::lock_guard lock(usersLock_);
    const auto found = users_.find(userId);
    return found == users_.end() ? 0 : found->second->Level().Level(scale);
}

void CVoiceEngine::SelectDevice(DeviceKind kind, const std::string& name) {
    std::lock_guard lock(devicesLock_);
    DeviceState& state = kind == DeviceKind::kMicrophone ? microphone_ : speaker_;
    state.name = name;
    state.reopen = true;
    state.failing = false;
    state.retryAfter = kFirstRetry;
    state.nextTry = {};
    if (kind == DeviceKind::kSpeaker) speakerWanted_ = true;
}

void CVoiceEngine::SetLogSink(ITavolinLogSink* sink) {
    std::lock_guard lock(logLock_);
    logSink_ = sink;
}

bool CVoiceEngine::GetStats(int userId, TavolinVoiceStats* out) {
    *out = TavolinVoiceStats{};
    if (userId == kLocalUser) {
        out->framesSent = framesSent_;
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
    const RemoteVoiceCounters& c = found->second->Counters();
    out->framesReceived = c.received;
    out->framesLate = c.late;
    out->framesDuplicate = c.duplicate;
    out->framesPlayed = c.played;
    out->framesLost = c.lost;
    out->framesConcealed = c.concealed;
    out->framesSkipped = c.skipped;
    out->jitterDelayMs = found->second->TargetDelayMs();
    return true;
}

// ---- Engine thread: the component's window --------------------------------

LRESULT CVoiceEngine::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CVoiceEngine*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message != kMsgLogOut || !self) return DefWindowProcA(window, message, wParam, lParam);
    // The host may destroy the engine, and with it this component, from its log sink.
    self->AddRef();
    self->DeliverLogs();
    self->Release();
    return 1;
}

// Nothing is called with logLock_ held: the log sink is the host's.
void CVoiceEngine::DeliverLogs() {
    for (;;) {
        std::string text;
        ITavolinLogSink* logSink = nullptr;
        {
            std::lock_guard lock(logLock_);
            if (outLogs_.empty()) return;
            text = std::move(outLogs_.front());
            outLogs_.pop_front();
            logSink = logSink_;
        }
        if (logSink) logSink->Log("%s", text.c_str());
    }
}

// Any thread: the text is logged from the engine thread.
void CVoiceEngine::Log(std::string text) {
    {
        std::lock_guard lock(logLock_);
        outLogs_.push_back(std::move(text));
    }
    PostMessageA(window_, kMsgLogOut, 0, 0);
}

// ---- Microphone thread ------------------------------------------------------

void CVoiceEngine::OnCapturedSound(const int16_t* samples, int count) {
    while (count > 0) {
        const int take = std::min(count, kFrameSamples - capturedCount_);
        std::copy_n(samples, take, captured_.begin() + capturedCount_);
        capturedCount_ += take;
        samples += take;
        count -= take;
        if (capturedCount_ < kFrameSamples) return;
        capturedCount_ = 0;
        localLevel_.Add(captured_.data(), kFrameSamples);
        std::array<uint8_t, kFrameBytes> frame;
        if (!sending_ || !sink_ || !encoder_.Encode(captured_.data(), frame.data())) continue;
        // Straight to the wire from here: a frame that waited for a busy
        // engine thread would reach every listener late.
        sink_->OnEncodedAudio(frame.data(), static_cast<int>(frame.size()));
        ++framesSent_;
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
        RenderTick(next, now);
        KeepMicrophone(now);
        lock.lock();
    }
    if (openMicrophone_) openMicrophone_->Stop();
    if (openSpeaker_) openSpeaker_->Stop();
    openMicrophone_.reset();
    openSpeaker_.reset();
}

// A tick that runs late still renders the frame due at its scheduled time:
// the sound follows the playout clock, not the thread's lateness, as a
// device's buffer would play it. Only a restarted clock leaves a gap.
void CVoiceEngine::RenderTick(Clock::time_point due, Clock::time_point now) {
    std::array<int32_t, kFrameSamples> sum{};
    std::array<int16_t, kFrameSamples> voice;
    bool audible = false;
    {
        std::lock_guard lock(usersLock_);
        for (auto& [id, user] : users_) {
            if (!user->Render(Millis(due), voice.data())) continue;
            audible = true;
            for (int i = 0; i < kFrameSamples; ++i) sum[static_cast<size_t>(i)] += voice[static_cast<size_t>(i)];
        }
    }
    KeepSpeaker(now, audible);
    if (!openSpeaker_) return;
    std::array<int16_t, kFrameSamples> mix;
    MixSaturating(sum.data(), mix.data(), kFrameSamples);
    openSpeaker_->Play(mix.data(), kFrameSamples, Micros(due));
}

// The microphone runs while sending is on; a failed one is retried with a
// growing wait, and nothing is sent meanwhile.
void CVoiceEngine::KeepMicrophone(Clock::time_point now) {
    std::unique_lock lock(devicesLock_);
    const bool reopen = std::exchange(microphone_.reopen, false);
    std::string why;
    if (openMicrophone_ && (reopen || !sending_ || openMicrophone_->Failed(&why))) {
        openMicrophone_->Stop();
        openMicrophone_.reset();
        if (!why.empty()) OnDeviceFailed(microphone_, log_text::kMicrophone, why, now);
    }
    if (openMicrophone_ || !sending_ || now < microphone_.nextTry) return;
    const std::string name = microphone_.name;
    lock.unlock();
    const bool echoProbe = openSpeaker_ && openSpeaker_->HasEchoProbe();
    std::unique_ptr<Microphone> device = OpenMicrophone(name, echoProbe ? echoProbe_ : std::string());
    capturedCount_ = 0;
    const bool started = device && device->Start([this](const int16_t* s, int n) { OnCapturedSound(s, n); }, &why);
    lock.lock();
    // The host picked another microphone meanwhile: that one is next.
    if (microphone_.name != name || microphone_.reopen) {
        if (started) device->Stop();
        return;
    }
    if (!device) why = "no such device";
    if (started) {
        openMicrophone_ = std::move(device);
        OnDeviceStarted(microphone_, log_text::kMicrophone);
        LogProcessing(openMicrophone_->SoundProcessing());
    } else {
        OnDeviceFailed(microphone_, log_text::kMicrophone, why, now);
    }
}

// The speaker opens with the first sound to play (or when the host picks
// one) and then stays open; a failed one is retried like the microphone.
void CVoiceEngine::KeepSpeaker(Clock::time_point now, bool needed) {
    std::unique_lock lock(devicesLock_);
    speakerWanted_ = speakerWanted_ || needed;
    const bool reopen = std::exchange(speaker_.reopen, false);
    std::string why;
    if (openSpeaker_ && (reopen || openSpeaker_->Failed(&why))) {
        openSpeaker_->Stop();
        openSpeaker_.reset();
        if (!why.empty()) OnDeviceFailed(speaker_, log_text::kSpeaker, why, now);
    }
    if (openSpeaker_ || !speakerWanted_ || now < speaker_.nextTry) return;
    const std::string name = speaker_.name;
    lock.unlock();
    std::unique_ptr<Speaker> device = OpenSpeaker(name, echoProbe_);
    const bool started = device && device->Start(&why);
    lock.lock();
    if (speaker_.name != name || speaker_.reopen) {
        if (started) device->Stop();
        return;
    }
    if (!device) why = "no such device";
    if (started) {
        openSpeaker_ = std::move(device);
        OnDeviceStarted(speaker_, log_text::kSpeaker);
    } else {
        OnDeviceFailed(speaker_, log_text::kSpeaker, why, now);
    }
}

// devicesLock_ held. Logs the first failure of a run of failures only.
void CVoiceEngine::OnDeviceFailed(DeviceState& state, const char* what, const std::string& why,
                                  Clock::time_point now) {
    if (!state.failing) Log(log_text::DeviceFailed(what, state.name, why));
    state.failing = true;
    state.nextTry = now + state.retryAfter;
    state.retryAfter = std::min(state.retryAfter * 2, kLongestRetry);
}

void CVoiceEngine::OnDeviceStarted(DeviceState& state, const char* what) {
    if (state.failing) Log(log_text::DeviceWorks(what, state.name));
    state.failing = false;
    state.retryAfter = kFirstRetry;
}

void CVoiceEngine::LogProcessing(Processing processing) {
    switch (processing) {
        case Processing::kNone:
            break;
        case Processing::kUnavailable:
            Log(log_text::kProcessingUnavailable);
            break;
        case Processing::kNoEcho:
            Log(log_text::kEchoCancellationOff);
            break;
        case Processing::kFull:
            Log(log_text::kProcessingOn);
            break;
    }
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
