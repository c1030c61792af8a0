#include "platform/media/gst/gst_filter_graph.h"

#include "platform/media/gst/gst_capture_filter.h"
#include "platform/media/gst/gst_sample_grabber.h"

namespace media {

namespace {

// How long Run waits for the first sample or an error. A camera that
// stays silent longer counts as running; its later errors only stop frames.
constexpr std::chrono::milliseconds kStreamStartWait{3000};

template <class Filter>
Filter* OwnerOf(IPin* pin) {
    auto* ours = dynamic_cast<MediaPin*>(pin);
    return ours ? dynamic_cast<Filter*>(ours->Owner()) : nullptr;
}

}  // namespace

GstFilterGraph* GstFilterGraph::Create() {
    GstElement* pipeline = gst_pipeline_new(nullptr);
    if (!pipeline) return nullptr;
    gst_object_ref_sink(pipeline);
    return new GstFilterGraph(pipeline);
}

GstFilterGraph::GstFilterGraph(GstElement* pipeline) : m_pipeline(pipeline) {
    GstBus* bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_sync_handler(bus, &GstFilterGraph::OnBusMessage, m_monitor.get(), nullptr);
    gst_object_unref(bus);
}

GstFilterGraph::~GstFilterGraph() {
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(m_pipeline);
    for (IBaseFilter* filter : m_filters) filter->Release();
}

// Errors are all that matters here; nothing pops the bus, so drop everything.
GstBusSyncReply GstFilterGraph::OnBusMessage(GstBus*, GstMessage* message, gpointer monitor) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) static_cast<StreamStartMonitor*>(monitor)->OnError();
    gst_message_unref(message);  // a sync handler that drops a message owns it
    return GST_BUS_DROP;
}

bool GstFilterGraph::Holds(GstElement* element) const { return GST_ELEMENT_PARENT(element) == m_pipeline; }

HRESULT GstFilterGraph::AddFilter(IBaseFilter* filter, const char* name) {
    auto* ours = dynamic_cast<GstFilterElement*>(filter);
    if (!ours || !name) return E_INVALIDARG;
    GstElement* element = ours->Element();
    if (GST_ELEMENT_PARENT(element) || !gst_object_set_name(GST_OBJECT(element), name)) return E_FAIL;
    if (!gst_bin_add(GST_BIN(m_pipeline), element)) return E_FAIL;
    filter->AddRef();
    m_filters.push_back(filter);
    return S_OK;
}

HRESULT GstFilterGraph::Connect(IPin* output, IPin* input) {
    auto* camera = OwnerOf<GstCaptureFilter>(output);
    auto* grabber = OwnerOf<GstSampleGrabber>(input);
    if (!camera || !grabber || output != camera->OutputPin() || input != grabber->InputPin()) return E_INVALIDARG;
    if (!Holds(camera->Element()) || !Holds(grabber->Element()) || m_grabber) return E_FAIL;
    const auto delivered = camera->DeliveredFormat();
    if (!delivered) return E_FAIL;
    GstElement* converter = gst_element_factory_make("videoconvert", nullptr);
    GstElement* scaler = gst_element_factory_make("videoscale", nullptr);
    if (!converter || !scaler) {
        for (GstElement* element : {converter, scaler}) {
            if (element) gst_object_unref(gst_object_ref_sink(element));
        }
        return E_FAIL;
    }
    gst_bin_add_many(GST_BIN(m_pipeline), converter, scaler, nullptr);
    if (!gst_element_link_many(camera->Element(), converter, scaler, grabber->Element(), nullptr)) {
        gst_element_unlink_many(camera->Element(), converter, scaler, grabber->Element(), nullptr);
        gst_bin_remove_many(GST_BIN(m_pipeline), converter, scaler, nullptr);
        return E_FAIL;
    }
    grabber->OnConnected(delivered->width, delivered->height, m_monitor);
    m_grabber = grabber;
    return S_OK;
}

HRESULT GstFilterGraph::Run() {
    m_monitor->Reset();
    if (m_grabber) m_grabber->StartDelivering();
    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE ||
        m_monitor->Wait(kStreamStartWait) == StreamStartMonitor::Outcome::kFailed) {
        Stop();
        return E_FAIL;
    }
    return S_OK;
}

HRESULT GstFilterGraph::Stop() {
    if (m_grabber) m_grabber->StopDelivering();
    // Going to READY joins the streaming threads before it returns.
    return gst_element_set_state(m_pipeline, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE ? E_FAIL : S_OK;
}

HRESULT GstFilterGraph::StopWhenReady() { return Stop(); }

GstCaptureGraphBuilder::~GstCaptureGraphBuilder() { SetFiltergraph(nullptr); }

HRESULT GstCaptureGraphBuilder::SetFiltergraph(IGraphBuilder* graph) {
    if (graph) graph->AddRef();
    if (m_graph) m_graph->Release();
    m_graph = graph;
    return S_OK;
}

HRESULT GstCaptureGraphBuilder::FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter,
                                              const IID& iid, void** out) {
    if (!filter || !out) return E_POINTER;
    *out = nullptr;
    if (category && !IsEqualGUID(*category, PIN_CATEGORY_CAPTURE)) return E_FAIL;
    if (type && !IsEqualGUID(*type, MEDIATYPE_Video)) return E_FAIL;
    return filter->QueryInterface(iid, out);
}

}  // namespace media
