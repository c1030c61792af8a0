#include "voice/gst_audio.h"

#include "voice/codec/voice_frame.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <mutex>

namespace voice {

namespace {

// Device buffers: 10 ms fragments; 20 ms in all for a microphone, 40 ms for
// a speaker, which must ride out a late playout tick.
constexpr gint64 kDeviceFragmentMicros = 10000;
constexpr gint64 kMicrophoneBufferMicros = 20000;
constexpr gint64 kSpeakerBufferMicros = 40000;
// Sound queued for the speaker beyond this is dropped, the oldest first,
// rather than delayed.
constexpr guint64 kSpeakerQueueBytes = kSampleRateHz * 2 / 5;  // 200 ms
constexpr int kDropOldest = 2;                                 // GstAppLeakyType downstream

GstCaps* VoiceCaps() {
    return gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout", G_TYPE_STRING, "interleaved",
                               "rate", G_TYPE_INT, kSampleRateHz, "channels", G_TYPE_INT, 1, nullptr);
}

GstElement* Make(const char* factory) { return gst_element_factory_make(factory, nullptr); }

// Adds and links the chain; false (and the pipeline unusable) when any is missing.
bool AddChain(GstElement* pipeline, std::initializer_list<GstElement*> chain) {
    GstElement* previous = nullptr;
    bool ok = true;
    for (GstElement* element : chain) {
        if (!element) {
            ok = false;
            continue;
        }
        gst_bin_add(GST_BIN(pipeline), element);
        if (previous && !gst_element_link(previous, element)) ok = false;
        previous = element;
    }
    return ok;
}

// The pipeline's first error, if any; empty when none is waiting.
std::string TakeError(GstElement* pipeline) {
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    if (!message) return {};
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    std::string text = error ? error->message : "unknown error";
    if (error) g_error_free(error);
    gst_message_unref(message);
    return text;
}

// Starts without waiting for the state change: a live pipeline completes
// it only once data flows, and the speaker's data comes from the very thread
// that starts it. What goes wrong later shows on the bus (Failed).
bool StartPipeline(GstElement* pipeline, std::string* error) {
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) return true;
    *error = TakeError(pipeline);
    if (error->empty()) *error = "the device does not start";
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return false;
}

// Asks a sound device element (or one inside the automatic default) for
// small buffers; elements without these properties are left as they are.
void AskForSmallBuffers(GstElement* element, gint64 bufferMicros) {
    GObjectClass* type = G_OBJECT_GET_CLASS(element);
    if (!g_object_class_find_property(type, "buffer-time") || !g_object_class_find_property(type, "latency-time"))
        return;
    g_object_set(element, "buffer-time", bufferMicros, "latency-time", kDeviceFragmentMicros, nullptr);
}

void OnElementAdded(GstBin*, GstBin*, GstElement* element, gpointer bufferMicros) {
    AskForSmallBuffers(element, GPOINTER_TO_INT(bufferMicros));
}

class GstPipelineDevice {
protected:
    // Keeps a reference of its own to the device element, which the
    // pipeline may or may not have taken in.
    GstPipelineDevice(GstElement* device, gint64 bufferMicros) : pipeline_(gst_pipeline_new(nullptr)), device_(device) {
        gst_object_ref_sink(device_);
        AskForSmallBuffers(device_, bufferMicros);
        g_signal_connect(pipeline_, "deep-element-added", G_CALLBACK(OnElementAdded),
                         GINT_TO_POINTER(static_cast<int>(bufferMicros)));
    }
    ~GstPipelineDevice() {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
        gst_object_unref(device_);
    }
    bool CheckFailed(std::string* error) {
        std::lock_guard lock(errorLock_);
        if (error_.empty()) error_ = TakeError(pipeline_);
        *error = error_;
        return !error_.empty();
    }

    GstElement* pipeline_;
    GstElement* device_;
    bool built_ = false;
    bool running_ = false;
    std::mutex errorLock_;
    std::string error_;
};

class GstMicrophone final : public Microphone, GstPipelineDevice {
public:
    explicit GstMicrophone(GstElement* source) : GstPipelineDevice(source, kMicrophoneBufferMicros) {
        GstElement* shape = Make("capsfilter");
        sink_ = Make("appsink");
        if (shape) {
            GstCaps* caps = VoiceCaps();
            g_object_set(shape, "caps", caps, nullptr);
            gst_caps_unref(caps);
        }
        if (sink_) g_object_set(sink_, "sync", FALSE, "emit-signals", FALSE, nullptr);
        built_ = AddChain(pipeline_, {device_, Make("audioconvert"), Make("audioresample"), shape, sink_});
    }
    ~GstMicrophone() override { Stop(); }

    Processing SoundProcessing() const override { return Processing::kSoundDevice; }

    bool Start(SoundCallback onSound, std::string* error) override {
        Stop();
        if (!built_) {
            *error = "missing GStreamer elements";
            return false;
        }
        onSound_ = std::move(onSound);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = &GstMicrophone::OnSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink_), &callbacks, this, nullptr);
        running_ = StartPipeline(pipeline_, error);
        return running_;
    }
    bool Failed(std::string* error) override { return running_ && CheckFailed(error); }
    void Stop() override {
        if (!running_) return;
        // Once the pipeline is down no streaming thread calls OnSample.
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        running_ = false;
    }

private:
    static GstFlowReturn OnSample(GstAppSink* sink, gpointer data) {
        auto* self = static_cast<GstMicrophone*>(data);
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (!sample) return GST_FLOW_EOS;
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            // Captured, as far as can be told here, just before it came.
            const int count = static_cast<int>(map.size / 2);
            const int64_t capturedMicros =
                static_cast<int64_t>(g_get_monotonic_time()) - int64_t{count} * 1000000 / kSampleRateHz;
            self->onSound_(reinterpret_cast<const int16_t*>(map.data), count, capturedMicros);
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }

    GstElement* sink_;
    SoundCallback onSound_;
};

class GstSpeaker final : public Speaker, GstPipelineDevice {
public:
    explicit GstSpeaker(GstElement* sink) : GstPipelineDevice(sink, kSpeakerBufferMicros) {
        source_ = Make("appsrc");
        if (source_) {
            GstCaps* caps = VoiceCaps();
            g_object_set(source_, "caps", caps, "format", GST_FORMAT_TIME, "is-live", TRUE, "do-timestamp", TRUE,
                         "max-bytes", kSpeakerQueueBytes, "block", FALSE, "leaky-type", kDropOldest, nullptr);
            gst_caps_unref(caps);
        }
        built_ = AddChain(pipeline_, {source_, Make("audioconvert"), Make("audioresample"), device_});
    }
    ~GstSpeaker() override { Stop(); }

    bool Start(std::string* error) override {
        if (!built_) {
            *error = "missing GStreamer elements";
            return false;
        }
        running_ = StartPipeline(pipeline_, error);
        return running_;
    }
    // Heard, as far as can be told, once the device's buffer has played.
    Playing Play(const int16_t* samples, int count, int64_t monotonicMicros) override {
        if (!running_ || count <= 0) return {monotonicMicros, 0, count, false};
        GstBuffer* buffer = gst_buffer_new_memdup(samples, static_cast<gsize>(count) * 2);
        gst_app_src_push_buffer(GST_APP_SRC(source_), buffer);  // takes the buffer
        return {monotonicMicros + kSpeakerBufferMicros};
    }
    bool Failed(std::string* error) override { return running_ && CheckFailed(error); }
    void Stop() override {
        if (!running_) return;
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        running_ = false;
    }

private:
    GstElement* source_;
};

}  // namespace

bool EnsureGstreamer() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = gst_init_check(nullptr, nullptr, nullptr); });
    return ready;
}

std::unique_ptr<Microphone> MakeGstMicrophone(GstElement* source) {
    if (!source) return nullptr;
    return std::make_unique<GstMicrophone>(source);
}

std::unique_ptr<Speaker> MakeGstSpeaker(GstElement* sink) {
    if (!sink) return nullptr;
    return std::make_unique<GstSpeaker>(sink);
}

std::vector<std::string> GstDeviceNames(const char* deviceClass) {
    std::vector<std::string> names;
    if (!EnsureGstreamer()) return names;
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, deviceClass, nullptr);
    GList* devices = gst_device_monitor_get_devices(monitor);
    for (GList* item = devices; item; item = item->next) {
        gchar* name = gst_device_get_display_name(GST_DEVICE(item->data));
        if (name) names.emplace_back(name);
        g_free(name);
    }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
    return names;
}

GstElement* CreateGstDeviceElement(const char* deviceClass, const std::string& name) {
    if (!EnsureGstreamer()) return nullptr;
    const bool source = std::string(deviceClass) == "Audio/Source";
    if (name.empty()) return Make(source ? "autoaudiosrc" : "autoaudiosink");
    GstElement* element = nullptr;
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, deviceClass, nullptr);
    GList* devices = gst_device_monitor_get_devices(monitor);
    for (GList* item = devices; item && !element; item = item->next) {
        gchar* display = gst_device_get_display_name(GST_DEVICE(item->data));
        if (display && name == display) element = gst_device_create_element(GST_DEVICE(item->data), nullptr);
        g_free(display);
    }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
    return element;
}

}  // namespace voice
