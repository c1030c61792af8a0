#include "voice/pulse_audio.h"

#include "voice/codec/voice_frame.h"

#include <pulse/pulseaudio.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <utility>

namespace voice {

namespace {

constexpr size_t kBytesPerMs = kSampleRateHz / 1000 * sizeof(int16_t);
// Capture in 10 ms fragments.
constexpr size_t kCaptureFragmentBytes = 10 * kBytesPerMs;
// Playback: the server holds up to 40 ms; it starts playing once a frame
// is there, and a 10 ms cushion of silence goes ahead of the first frame
// after a start or an underrun, so that a tick a little late is not heard.
constexpr size_t kPlaybackTargetBytes = 40 * kBytesPerMs;
constexpr size_t kPlaybackStartBytes = kFrameMs * kBytesPerMs;
constexpr int kCushionSamples = kSampleRateHz / 100;
// Playback delay: past kPlaybackStallMicros (after a stall of the server)
// whole frames are dropped, as many as it held beyond the cushion; past kPlaybackSlowMicros
// before every write for a second (the server's clock slower than ours)
// 10 ms of the next frame is. A cut now and then is not heard; one at every
// tick would be.
constexpr pa_usec_t kPlaybackSlowMicros = 25000;
constexpr pa_usec_t kCushionMicros = 10000;
constexpr pa_usec_t kPlaybackStallMicros = 55000;
constexpr int kBacklogWindowWrites = 33;
// How long a caller waits for a connection, and how often a lost server is
// looked for again.
constexpr auto kConnectWait = std::chrono::milliseconds(500);
constexpr pa_usec_t kReconnectMicros = 250000;
// How long opening a stream waits for the server (on the device thread).
constexpr auto kStreamSetUpWait = std::chrono::seconds(2);

int64_t MonotonicMicros() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

struct PulseDevice {
    std::string name;         // the server's name, for connecting
    std::string description;  // what hosts see
};

// The process's connection to the server. Everything below runs under the
// threaded main loop's lock, taken by callers and held during callbacks.
class Connection {
public:
    static Connection& Get() {
        static Connection connection;
        return connection;
    }

    pa_threaded_mainloop* Loop() const { return loop_; }

    // Main loop lock held. Waits (releasing it) for a connection when none
    // is up, starting one if need be.
    bool Ready() {
        if (ready_) return true;
        if (!context_) Connect();
        const auto deadline = std::chrono::steady_clock::now() + kConnectWait;
        while (!ready_ && context_ && std::chrono::steady_clock::now() < deadline) {
            // Signalled by every state change and list update.
            pa_threaded_mainloop_wait(loop_);
        }
        return ready_;
    }

    pa_context* Context() const { return context_; }
    bool EverReady() const { return everReady_; }
    const std::vector<PulseDevice>& Devices(DeviceKind kind) const {
        return kind == DeviceKind::kMicrophone ? sources_ : sinks_;
    }
    const std::string& DefaultName(DeviceKind kind) const {
        return kind == DeviceKind::kMicrophone ? defaultSource_ : defaultSink_;
    }

private:
    Connection() {
        loop_ = pa_threaded_mainloop_new();
        if (loop_) pa_threaded_mainloop_start(loop_);
    }
    ~Connection() {
        if (!loop_) return;
        pa_threaded_mainloop_lock(loop_);
        Drop();
        if (retry_) pa_threaded_mainloop_get_api(loop_)->time_free(retry_);
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }

    void Connect() {
        if (!loop_) return;
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Tavolin voice");
        if (!context_) return;
        pa_context_set_state_callback(context_, &Connection::OnState, this);
        pa_context_set_subscribe_callback(context_, &Connection::OnServerEvent, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) Lost();
    }

    void Drop() {
        if (!context_) return;
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
        ready_ = false;
        pending_ = 0;  // unanswered questions went with the connection
        again_ = false;
    }

    // The server went away or never answered: look for it again soon, so
    // that devices come back as soon as it does.
    void Lost() {
        const bool wasReady = ready_;
        Drop();
        if (wasReady) NoteDeviceChange();
        pa_threaded_mainloop_signal(loop_, 0);
        if (!everReady_) return;
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        timeval when{};
        pa_timeval_add(pa_gettimeofday(&when), kReconnectMicros);
        if (retry_)
            api->time_restart(retry_, &when);
        else
            retry_ = api->time_new(api, &when, &Connection::OnRetry, this);
    }

    static void OnRetry(pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
        auto* connection = static_cast<Connection*>(self);
        if (!connection->context_) connection->Connect();
    }

    static void OnState(pa_context* context, void* self) {
        auto* connection = static_cast<Connection*>(self);
        switch (pa_context_get_state(context)) {
            case PA_CONTEXT_READY:
                connection->Finish(pa_context_subscribe(context,
                                                        static_cast<pa_subscription_mask_t>(
                                                            PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                                                            PA_SUBSCRIPTION_MASK_SERVER),
                                                        nullptr, nullptr),
                                   false);
                connection->Refresh();
                break;
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED: connection->Lost(); break;
            default: break;
        }
    }

    static void OnServerEvent(pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
        static_cast<Connection*>(self)->Refresh();
    }

    // Asks for the default devices and both lists; the last answer makes
    // the connection ready and tells the components.
    void Refresh() {
        if (pending_ > 0) {
            again_ = true;
            return;
        }
        pending_ = 3;
        newSinks_.clear();
        newSources_.clear();
        Finish(pa_context_get_server_info(context_, &Connection::OnServerInfo, this));
        Finish(pa_context_get_sink_info_list(context_, &Connection::OnSink, this));
        Finish(pa_context_get_source_info_list(context_, &Connection::OnSource, this));
    }

    // Lets go of an operation; one that could not be sent counts as
    // answered when an answer is awaited.
    void Finish(pa_operation* operation, bool awaited = true) {
        if (operation)
            pa_operation_unref(operation);
        else if (awaited)
            Answered();
    }

    void Answered() {
        if (--pending_ > 0) return;
        sinks_ = newSinks_;
        sources_ = newSources_;
        defaultSink_ = newDefaultSink_;
        defaultSource_ = newDefaultSource_;
        ready_ = true;
        everReady_ = true;
        NoteDeviceChange();
        pa_threaded_mainloop_signal(loop_, 0);
        if (std::exchange(again_, false)) Refresh();
    }

    static void OnServerInfo(pa_context*, const pa_server_info* info, void* self) {
        auto* connection = static_cast<Connection*>(self);
        if (info) {
            connection->newDefaultSink_ = info->default_sink_name ? info->default_sink_name : "";
            connection->newDefaultSource_ = info->default_source_name ? info->default_source_name : "";
        }
        connection->Answered();
    }

    static void OnSink(pa_context*, const pa_sink_info* info, int last, void* self) {
        auto* connection = static_cast<Connection*>(self);
        if (last) return connection->Answered();
        if (info) connection->newSinks_.push_back({info->name, info->description ? info->description : info->name});
    }

    static void OnSource(pa_context*, const pa_source_info* info, int last, void* self) {
        auto* connection = static_cast<Connection*>(self);
        if (last) return connection->Answered();
        if (info) connection->newSources_.push_back({info->name, info->description ? info->description : info->name});
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* retry_ = nullptr;
    bool ready_ = false;
    bool everReady_ = false;  // then a lost server is looked for again
    int pending_ = 0;
    bool again_ = false;
    std::vector<PulseDevice> sinks_, sources_, newSinks_, newSources_;
    std::string defaultSink_, defaultSource_, newDefaultSink_, newDefaultSource_;
};

class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }

private:
    pa_threaded_mainloop* loop_;
};

// The server's name of the device with that description, "" for the
// default; false when there is no such device (or no server).
bool ServerName(DeviceKind kind, const std::string& description, std::string* name) {
    Connection& connection = Connection::Get();
    if (!connection.Ready()) return false;
    if (description.empty()) {
        name->clear();
        return true;
    }
    for (const PulseDevice& device : connection.Devices(kind)) {
        if (device.description != description) continue;
        *name = device.name;
        return true;
    }
    return false;
}

const pa_sample_spec kVoiceSpec{PA_SAMPLE_S16LE, kSampleRateHz, 1};
constexpr auto kStreamFlags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                             PA_STREAM_AUTO_TIMING_UPDATE);

// One stream of ours; its callbacks run on the connection's thread.
class PulseStream {
protected:
    PulseStream(std::string serverName) : serverName_(std::move(serverName)) {}

    // Main loop lock held.
    bool Open(const char* role, std::string* error) {
        Close();
        failed_ = false;
        error_.clear();
        Connection& connection = Connection::Get();
        if (!connection.Ready()) {
            *error = "the sound server does not answer";
            return false;
        }
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "phone");
        stream_ = pa_stream_new_with_proplist(connection.Context(), role, &kVoiceSpec, nullptr, properties);
        pa_proplist_free(properties);
        if (!stream_) {
            *error = pa_strerror(pa_context_errno(connection.Context()));
            return false;
        }
        pa_stream_set_state_callback(stream_, &PulseStream::OnState, this);
        pa_stream_set_moved_callback(stream_, &PulseStream::OnMoved, this);
        return true;
    }

    // Main loop lock held. No callback of this stream comes after it.
    void Close() {
        if (!stream_) return;
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_moved_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }

    const char* Device() const { return serverName_.empty() ? nullptr : serverName_.c_str(); }

    // Main loop lock held. Waits (releasing it) until the server has set the
    // stream up or refused it; false, with the reason, when it refused.
    bool AwaitReady(std::string* error) {
        const auto deadline = std::chrono::steady_clock::now() + kStreamSetUpWait;
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY) return true;
            if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED ||
                std::chrono::steady_clock::now() >= deadline) {
                *error = failed_ ? error_ : std::string("the sound server did not set the stream up");
                Close();
                return false;
            }
            pa_threaded_mainloop_wait(Connection::Get().Loop());
        }
    }

    bool CheckFailed(std::string* error) {
        LoopLock lock(Connection::Get().Loop());
        if (!stream_ || !failed_) return false;
        *error = error_;
        return true;
    }

    // Microseconds from now until sound written now is heard (playback), or
    // since sound read now was captured (capture); 0 before the server said.
    pa_usec_t Latency() const {
        pa_usec_t micros = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream_, &micros, &negative) < 0 || negative) return 0;
        return micros;
    }

    pa_stream* stream_ = nullptr;
    std::string serverName_;

private:
    static void OnState(pa_stream* stream, void* data) {
        auto* self = static_cast<PulseStream*>(data);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        pa_threaded_mainloop_signal(Connection::Get().Loop(), 0);
        if (state != PA_STREAM_FAILED && state != PA_STREAM_TERMINATED) return;
        self->failed_ = true;
        pa_context* context = pa_stream_get_context(stream);
        self->error_ = context ? pa_strerror(pa_context_errno(context)) : "the stream ended";
    }

    // The server moved the stream (its device went away, or the default
    // changed): the components look at their devices again.
    static void OnMoved(pa_stream*, void*) { NoteDeviceChange(); }

    bool failed_ = false;
    std::string error_;
};

class PulseMicrophone final : public Microphone, PulseStream {
public:
    explicit PulseMicrophone(std::string serverName) : PulseStream(std::move(serverName)) {}
    ~PulseMicrophone() override { Stop(); }

    Processing SoundProcessing() const override { return Processing::kSoundDevice; }

    bool Start(SoundCallback onSound, std::string* error) override {
        LoopLock lock(Connection::Get().Loop());
        if (!Open("Voice capture", error)) return false;
        onSound_ = std::move(onSound);
        pa_stream_set_read_callback(stream_, &PulseMicrophone::OnReadable, this);
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<uint32_t>(-1);
        attributes.fragsize = kCaptureFragmentBytes;
        if (pa_stream_connect_record(stream_, Device(), &attributes, kStreamFlags) < 0) {
            *error = pa_strerror(pa_context_errno(Connection::Get().Context()));
            Close();
            return false;
        }
        return AwaitReady(error);
    }
    bool Failed(std::string* error) override { return CheckFailed(error); }
    void Stop() override {
        LoopLock lock(Connection::Get().Loop());
        Close();
    }

private:
    static void OnReadable(pa_stream* stream, size_t, void* data) {
        auto* self = static_cast<PulseMicrophone*>(data);
        const void* bytes = nullptr;
        size_t length = 0;
        while (pa_stream_peek(stream, &bytes, &length) == 0 && length > 0) {
            const int count = static_cast<int>(length / sizeof(int16_t));
            const int64_t capturedMicros =
                MonotonicMicros() - static_cast<int64_t>(self->Latency()) - int64_t{count} * 1000000 / kSampleRateHz;
            if (bytes) {
                self->onSound_(static_cast<const int16_t*>(bytes), count, capturedMicros);
            } else {
                // A hole in the recording: silence of that length.
                std::vector<int16_t> silence(static_cast<size_t>(count), 0);
                self->onSound_(silence.data(), count, capturedMicros);
            }
            pa_stream_drop(stream);
        }
    }

    SoundCallback onSound_;
};

class PulseSpeaker final : public Speaker, PulseStream {
public:
    explicit PulseSpeaker(std::string serverName) : PulseStream(std::move(serverName)) {}
    ~PulseSpeaker() override { Stop(); }

    bool Start(std::string* error) override {
        LoopLock lock(Connection::Get().Loop());
        if (!Open("Voice playback", error)) return false;
        pa_stream_set_underflow_callback(stream_, &PulseSpeaker::OnUnderflow, this);
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<uint32_t>(-1);
        attributes.tlength = kPlaybackTargetBytes;
        attributes.prebuf = kPlaybackStartBytes;
        attributes.minreq = static_cast<uint32_t>(-1);
        if (pa_stream_connect_playback(stream_, Device(), &attributes, kStreamFlags, nullptr, nullptr) < 0) {
            *error = pa_strerror(pa_context_errno(Connection::Get().Context()));
            Close();
            return false;
        }
        cushion_ = true;
        return AwaitReady(error);
    }

    Playing Play(const int16_t* samples, int count, int64_t monotonicMicros) override {
        LoopLock lock(Connection::Get().Loop());
        if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY || count <= 0)
            return {monotonicMicros, 0, count, false};
        Playing playing;
        if (std::exchange(cushion_, false)) {
            const std::vector<int16_t> silence(kCushionSamples, 0);
            pa_stream_write(stream_, silence.data(), silence.size() * sizeof(int16_t), nullptr, 0, PA_SEEK_RELATIVE);
            playing.silence = kCushionSamples;
            playing.resumed = true;
        } else if (const pa_usec_t waiting = Latency(); StallDrop(waiting)) {
            return {monotonicMicros + static_cast<int64_t>(waiting), 0, count, false};
        } else if (SlowForAWhile(waiting)) {
            playing.skipped = kCushionSamples;
        }
        const int written = count - playing.skipped;
        pa_stream_write(stream_, samples + playing.skipped, static_cast<size_t>(written) * sizeof(int16_t), nullptr, 0,
                        PA_SEEK_RELATIVE);
        // Heard once what was written before it has played.
        playing.heardMicros = MonotonicMicros() + static_cast<int64_t>(Latency()) -
                              int64_t{written + playing.silence} * 1000000 / kSampleRateHz;
        return playing;
    }
    bool Failed(std::string* error) override { return CheckFailed(error); }
    void Stop() override {
        LoopLock lock(Connection::Get().Loop());
        Close();
    }

private:
    static void OnUnderflow(pa_stream*, void* data) { static_cast<PulseSpeaker*>(data)->cushion_ = true; }

    // Once per window of writes: whether the delay before every write of it
    // was past kPlaybackSlowMicros.
    bool SlowForAWhile(pa_usec_t waiting) {
        fewest_ = std::min(fewest_, waiting);
        if (++writes_ < kBacklogWindowWrites) return false;
        writes_ = 0;
        return std::exchange(fewest_, kNoBacklogYet) > kPlaybackSlowMicros;
    }

    // After a stall: whether this frame goes. As many frames go as the
    // backlog held when it was seen (the server's figures do not move while
    // nothing is written), and a new backlog is looked for a window later.
    bool StallDrop(pa_usec_t waiting) {
        if (stallDrops_ > 0) return --stallDrops_ >= 0;
        if (stallCooldown_ > 0 && --stallCooldown_ > 0) return false;
        if (waiting <= kPlaybackStallMicros) return false;
        stallDrops_ = static_cast<int>((waiting - kCushionMicros) / (kFrameMs * 1000));
        stallCooldown_ = kBacklogWindowWrites;
        return stallDrops_-- > 0;
    }

    static constexpr pa_usec_t kNoBacklogYet = ~pa_usec_t{0};
    bool cushion_ = true;
    int writes_ = 0;
    int stallDrops_ = 0;
    int stallCooldown_ = 0;
    pa_usec_t fewest_ = kNoBacklogYet;
};

}  // namespace

bool HavePulseServer() {
    Connection& connection = Connection::Get();
    if (!connection.Loop()) return false;
    LoopLock lock(connection.Loop());
    return connection.Ready();
}

bool UsePulseServer() {
    Connection& connection = Connection::Get();
    if (!connection.Loop()) return false;
    LoopLock lock(connection.Loop());
    return connection.Ready() || connection.EverReady();
}

std::vector<std::string> PulseDeviceNames(DeviceKind kind) {
    std::vector<std::string> names;
    Connection& connection = Connection::Get();
    if (!connection.Loop()) return names;
    LoopLock lock(connection.Loop());
    if (!connection.Ready()) return names;
    for (const PulseDevice& device : connection.Devices(kind)) names.push_back(device.description);
    return names;
}

std::string PulseDefaultDevice(DeviceKind kind) {
    Connection& connection = Connection::Get();
    if (!connection.Loop()) return {};
    LoopLock lock(connection.Loop());
    if (!connection.Ready()) return {};
    for (const PulseDevice& device : connection.Devices(kind))
        if (device.name == connection.DefaultName(kind)) return device.description;
    return {};
}

std::unique_ptr<Microphone> OpenPulseMicrophone(const std::string& name) {
    Connection& connection = Connection::Get();
    if (!connection.Loop()) return nullptr;
    LoopLock lock(connection.Loop());
    std::string serverName;
    if (!ServerName(DeviceKind::kMicrophone, name, &serverName)) return nullptr;
    return std::make_unique<PulseMicrophone>(serverName);
}

std::unique_ptr<Speaker> OpenPulseSpeaker(const std::string& name) {
    Connection& connection = Connection::Get();
    if (!connection.Loop()) return nullptr;
    LoopLock lock(connection.Loop());
    std::string serverName;
    if (!ServerName(DeviceKind::kSpeaker, name, &serverName)) return nullptr;
    return std::make_unique<PulseSpeaker>(serverName);
}

}  // namespace voice
