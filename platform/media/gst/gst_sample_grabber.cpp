#include "platform/media/gst/gst_sample_grabber.h"
#include "platform/media/gst/streaming_handoff.h"

#include "platform/media/gst/gst_video_format.h"

#include <algorithm>

namespace media {

namespace {

GstCaps* NewBgrCaps() { return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", nullptr); }

bool IsWildcardOr(const GUID& value, const GUID& expected) {
    return IsEqualGUID(value, GUID{}) || IsEqualGUID(value, expected);
}

}  // namespace

GstSampleGrabber* GstSampleGrabber::Create() {
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!sink) return nullptr;
    gst_object_ref_sink(sink);
    GstCaps* caps = NewBgrCaps();
    // No clock sync: a live camera paces itself. No last-sample copy kept.
    g_object_set(sink, "caps", caps, "sync", FALSE, "enable-last-sample", FALSE, "max-buffers", 1, "drop", TRUE,
                 nullptr);
    gst_caps_unref(caps);
    auto* grabber = new GstSampleGrabber(sink);
    HandOver(grabber);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &GstSampleGrabber::OnNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, grabber, nullptr);
    return grabber;
}

GstSampleGrabber::GstSampleGrabber(GstElement* sink) : m_sink(sink) {}

GstSampleGrabber::~GstSampleGrabber() {
    StopDelivering();
    gst_element_set_state(m_sink, GST_STATE_NULL);
    gst_object_unref(m_sink);
    if (m_frameCaps) gst_caps_unref(m_frameCaps);
    if (m_callback) m_callback->Release();
}

HRESULT GstSampleGrabber::SetOneShot(BOOL oneShot) { return oneShot ? E_NOTIMPL : S_OK; }

HRESULT GstSampleGrabber::SetBufferSamples(BOOL buffer) { return buffer ? E_NOTIMPL : S_OK; }

// Only 24-bit RGB video is delivered; asking for it (or for anything) is fine.
HRESULT GstSampleGrabber::SetMediaType(const AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    const bool accepted =
        IsWildcardOr(type->majortype, MEDIATYPE_Video) && IsWildcardOr(type->subtype, MEDIASUBTYPE_RGB24);
    return accepted ? S_OK : E_INVALIDARG;
}

HRESULT GstSampleGrabber::GetConnectedMediaType(AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    if (m_connectedWidth == 0) return E_FAIL;
    AM_MEDIA_TYPE* connected =
        MediaTypeFromVideoFormat({GST_VIDEO_FORMAT_BGR, m_connectedWidth, m_connectedHeight, 0, 1});
    if (!connected) return E_OUTOFMEMORY;
    *type = *connected;
    CoTaskMemFree(connected);
    return S_OK;
}

HRESULT GstSampleGrabber::SetCallback(ISampleGrabberCB* callback, LONG mode) {
    if (callback && mode != kGrabberCallsBufferCB) return E_NOTIMPL;
    if (callback) callback->AddRef();
    std::lock_guard lock(m_deliveryLock);
    if (m_callback) m_callback->Release();
    m_callback = callback;
    return S_OK;
}

HRESULT GstSampleGrabber::EnumPins(IEnumPins** pins) {
    if (!pins) return E_POINTER;
    *pins = new PinEnumerator({&m_input, &m_output});
    return S_OK;
}

void GstSampleGrabber::OnConnected(int width, int height, std::shared_ptr<StreamStartMonitor> monitor) {
    m_connectedWidth = width;
    m_connectedHeight = height;
    m_monitor = std::move(monitor);
    GstCaps* caps = NewBgrCaps();
    gst_caps_set_simple(caps, "width", G_TYPE_INT, width, "height", G_TYPE_INT, height, nullptr);
    g_object_set(m_sink, "caps", caps, nullptr);
    gst_caps_unref(caps);
}

void GstSampleGrabber::StartDelivering() {
    std::lock_guard lock(m_deliveryLock);
    m_delivering = true;
}

void GstSampleGrabber::StopDelivering() {
    std::lock_guard lock(m_deliveryLock);
    m_delivering = false;
}

GstFlowReturn GstSampleGrabber::OnNewSample(GstAppSink* sink, gpointer grabber) {
    TakeOver(grabber);
    if (GstSample* sample = gst_app_sink_pull_sample(sink)) {
        static_cast<GstSampleGrabber*>(grabber)->Deliver(sample);
        gst_sample_unref(sample);
    }
    return GST_FLOW_OK;
}

void GstSampleGrabber::Deliver(GstSample* sample) {
    std::lock_guard lock(m_deliveryLock);
    if (!m_delivering) return;
    if (m_monitor) m_monitor->OnSample();
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!m_callback || !caps || !buffer) return;
    if (!m_frameCaps || !gst_caps_is_equal(caps, m_frameCaps)) {
        if (!gst_video_info_from_caps(&m_frameInfo, caps)) return;
        gst_caps_replace(&m_frameCaps, caps);
    }
    // Mapping through the video info honours the buffer's video meta (its
    // own row stride) when there is one.
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &m_frameInfo, buffer, GST_MAP_READ)) return;
    const int width = GST_VIDEO_FRAME_WIDTH(&frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
    const int sourceStride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    const auto* topRow = static_cast<const BYTE*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const int stride = Stride24(width);
    m_bottomUp.resize(static_cast<size_t>(stride) * height);
    for (int row = 0; row < height; ++row) {
        std::copy_n(topRow + static_cast<ptrdiff_t>(row) * sourceStride, width * 3,
                    m_bottomUp.data() + static_cast<size_t>(height - 1 - row) * stride);
    }
    gst_video_frame_unmap(&frame);
    m_callback->BufferCB(StreamTimeOf(sample, buffer), m_bottomUp.data(), static_cast<LONG>(m_bottomUp.size()));
}

double GstSampleGrabber::StreamTimeOf(GstSample* sample, GstBuffer* buffer) const {
    GstClockTime time = GST_CLOCK_TIME_NONE;
    const GstSegment* segment = gst_sample_get_segment(sample);
    if (segment && GST_BUFFER_PTS_IS_VALID(buffer)) {
        time = gst_segment_to_stream_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    }
    if (!GST_CLOCK_TIME_IS_VALID(time)) time = gst_element_get_current_running_time(m_sink);
    return GST_CLOCK_TIME_IS_VALID(time) ? static_cast<double>(time) / GST_SECOND : 0.0;
}

}  // namespace media
