#include "voice/gst_audio.h"

#include "voice/voice_frame.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <mutex>

namespace voice {

namespace {

constexpr GstClockTime kStartTimeout = 2 * GST_SECOND;
// Sound queued for the speaker beyond this is dropped rather than delayed.
constexpr guint64 kSpeakerQueueBytes = kSampleRateHz * 2 / 5;  // 200 ms

GstCaps* VoiceCaps() {
    return gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout", G_TYPE_STRING,
                               "interleaved", "rate", G_TYPE_INT, kSampleRateHz, "channels", G_TYPE_INT, 1, nullptr);
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

bool StartPipeline(GstElement* pipeline, std::string* error) {
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE &&
        gst_element_get_state(pipeline, nullptr, nullptr, kStartTimeout) != GST_STATE_CHANGE_FAILURE) {
        const std::string failure = TakeError(pipeline);
        if (failure.empty()) return true;
        *error = failure;
    } else {
        *error = TakeError(pipeline);
        if (error->empty()) *error = "the device does not start";
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return false;
}

class GstPipelineDevice {
protected:
    // Keeps a reference of its own to the device element, which the
    // pipeline may or may not have taken in.
    explicit GstPipelineDevice(GstElement* device) : pipeline_(gst_pipeline_new(nullptr)), device_(device) {
        gst_object_ref_sink(device_);
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
    GstMicrophone(GstElement* source, const std::string& echoProbe) : GstPipelineDevice(source) {
        GstElement* shape = Make("capsfilter");
        GstElement* dsp = HaveVoiceProcessing() ? Make("webrtcdsp") : nullptr;
        sink_ = Make("appsink");
        if (shape) {
            GstCaps* caps = VoiceCaps();
            g_object_set(shape, "caps", caps, nullptr);
            gst_caps_unref(caps);
        }
        processing_ = !dsp ? Processing::kUnavailable : echoProbe.empty() ? Processing::kNoEcho : Processing::kFull;
        if (dsp) {
            g_object_set(dsp, "echo-cancel", !echoProbe.empty(), "noise-suppression", TRUE, "gain-control", TRUE,
                         nullptr);
            if (!echoProbe.empty()) g_object_set(dsp, "probe", echoProbe.c_str(), nullptr);
        }
        if (sink_) g_object_set(sink_, "sync", FALSE, "emit-signals", FALSE, nullptr);
        built_ = dsp ? AddChain(pipeline_, {device_, Make("audioconvert"), Make("audioresample"), shape, dsp, sink_})
                     : AddChain(pipeline_, {device_, Make("audioconvert"), Make("audioresample"), shape, sink_});
    }
    ~GstMicrophone() override { Stop(); }

    Processing SoundProcessing() const override { return processing_; }

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
            self->onSound_(reinterpret_cast<const int16_t*>(map.data), static_cast<int>(map.size / 2));
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }

    GstElement* sink_;
    Processing processing_;
    SoundCallback onSound_;
};

class GstSpeaker final : public Speaker, GstPipelineDevice {
public:
    GstSpeaker(GstElement* sink, const std::string& echoProbe) : GstPipelineDevice(sink) {
        source_ = Make("appsrc");
        GstElement* probe = nullptr;
        if (!echoProbe.empty() && HaveVoiceProcessing()) {
            probe = gst_element_factory_make("webrtcechoprobe", echoProbe.c_str());
        }
        if (source_) {
            GstCaps* caps = VoiceCaps();
            g_object_set(source_, "caps", caps, "format", GST_FORMAT_TIME, "is-live", TRUE, "do-timestamp", TRUE,
                         "max-bytes", kSpeakerQueueBytes, "block", FALSE, nullptr);
            gst_caps_unref(caps);
        }
        hasProbe_ = probe != nullptr;
        built_ = probe ? AddChain(pipeline_, {source_, probe, Make("audioconvert"), Make("audioresample"), device_})
                       : AddChain(pipeline_, {source_, Make("audioconvert"), Make("audioresample"), device_});
    }
    ~GstSpeaker() override { Stop(); }

    bool HasEchoProbe() const override { return hasProbe_; }

    bool Start(std::string* error) override {
        if (!built_) {
            *error = "missing GStreamer elements";
            return false;
        }
        running_ = StartPipeline(pipeline_, error);
        return running_;
    }
    void Play(const int16_t* samples, int count, int64_t) override {
        if (!running_ || count <= 0) return;
        GstBuffer* buffer = gst_buffer_new_memdup(samples, static_cast<gsize>(count) * 2);
        gst_app_src_push_buffer(GST_APP_SRC(source_), buffer);  // takes the buffer
    }
    bool Failed(std::string* error) override { return running_ && CheckFailed(error); }
    void Stop() override {
        if (!running_) return;
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        running_ = false;
    }

private:
    GstElement* source_;
    bool hasProbe_ = false;
};

}  // namespace

bool EnsureGstreamer() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = gst_init_check(nullptr, nullptr, nullptr); });
    return ready;
}

bool HaveVoiceProcessing() {
    if (!EnsureGstreamer()) return false;
    for (const char* name : {"webrtcdsp", "webrtcechoprobe"}) {
        GstElementFactory* factory = gst_element_factory_find(name);
        if (!factory) return false;
        gst_object_unref(factory);
    }
    return true;
}

std::unique_ptr<Microphone> MakeGstMicrophone(GstElement* source, const std::string& echoProbe) {
    if (!source) return nullptr;
    return std::make_unique<GstMicrophone>(source, echoProbe);
}

std::unique_ptr<Speaker> MakeGstSpeaker(GstElement* sink, const std::string& echoProbe) {
    if (!sink) return nullptr;
    return std::make_unique<GstSpeaker>(sink, echoProbe);
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
