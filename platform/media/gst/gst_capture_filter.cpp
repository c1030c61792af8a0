#include "platform/media/gst/gst_capture_filter.h"

namespace media {

GstCaptureFilter* GstCaptureFilter::Create(GstElement* source) {
    if (!source) return nullptr;
    gst_object_ref_sink(source);
    GstElement* bin = gst_bin_new(nullptr);
    GstElement* format = gst_element_factory_make("capsfilter", nullptr);
    GstPad* sourcePad = gst_element_get_static_pad(source, "src");
    if (!bin || !format || !sourcePad) {
        if (sourcePad) gst_object_unref(sourcePad);
        for (GstElement* element : {bin, format}) {
            if (element) gst_object_unref(gst_object_ref_sink(element));
        }
        gst_object_unref(source);
        return nullptr;
    }
    gst_object_unref(sourcePad);
    gst_object_ref_sink(bin);
    GstCaps* raw = NewRawVideoCaps();
    g_object_set(format, "caps", raw, nullptr);
    gst_caps_unref(raw);
    gst_bin_add_many(GST_BIN(bin), source, format, nullptr);
    gst_element_link(source, format);
    GstPad* output = gst_element_get_static_pad(format, "src");
    gst_element_add_pad(bin, gst_ghost_pad_new("src", output));
    gst_object_unref(output);
    return new GstCaptureFilter(bin, source, format);
}

GstCaptureFilter::GstCaptureFilter(GstElement* bin, GstElement* source, GstElement* format)
    : m_bin(bin), m_source(source), m_format(format) {}

GstCaptureFilter::~GstCaptureFilter() {
    gst_element_set_state(m_bin, GST_STATE_NULL);
    gst_element_set_state(m_source, GST_STATE_NULL);
    gst_object_unref(m_source);
    gst_object_unref(m_bin);
}

HRESULT GstCaptureFilter::EnumPins(IEnumPins** pins) {
    if (!pins) return E_POINTER;
    *pins = new PinEnumerator({&m_output});
    return S_OK;
}

GstCaps* GstCaptureFilter::QueryRawCaps(GstElement* element) {
    if (GST_STATE(m_source) < GST_STATE_READY &&
        gst_element_set_state(m_source, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        return nullptr;
    }
    GstPad* pad = gst_element_get_static_pad(element, "src");
    GstCaps* raw = NewRawVideoCaps();
    GstCaps* caps = gst_pad_query_caps(pad, raw);
    gst_caps_unref(raw);
    gst_object_unref(pad);
    return caps;
}

std::optional<VideoFormat> GstCaptureFilter::DeliveredFormat() {
    GstCaps* caps = QueryRawCaps(m_format);
    if (!caps) return std::nullopt;
    auto format = FixateVideoFormat(caps);
    gst_caps_unref(caps);
    return format;
}

const std::vector<VideoFormat>& GstCaptureFilter::Capabilities() {
    static const std::vector<VideoFormat> kNone;
    if (!m_capabilities) {
        GstCaps* caps = QueryRawCaps(m_source);
        // A device that cannot be opened has no capabilities yet; ask again later.
        if (!caps) return kNone;
        m_capabilities = ListVideoFormats(caps);
        gst_caps_unref(caps);
    }
    return *m_capabilities;
}

HRESULT GstCaptureFilter::GetFormat(AM_MEDIA_TYPE** type) {
    if (!type) return E_POINTER;
    const auto format = DeliveredFormat();
    if (!format) return E_FAIL;
    *type = MediaTypeFromVideoFormat(*format);
    return *type ? S_OK : E_OUTOFMEMORY;
}

// Like a camera driver: the size must be one the device has, and the rate
// is rounded to the nearest one it offers at that size.
HRESULT GstCaptureFilter::SetFormat(AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    if (!HasVideoInfo(*type)) return E_INVALIDARG;
    const VIDEOINFOHEADER* video = VideoInfoOf(*type);
    GstCaps* device = QueryRawCaps(m_source);
    if (!device) return E_FAIL;
    GstCaps* wanted = gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, video->bmiHeader.biWidth, "height",
                                          G_TYPE_INT, video->bmiHeader.biHeight, nullptr);
    GstCaps* offered = gst_caps_intersect(wanted, device);
    gst_caps_unref(device);
    if (gst_caps_is_empty(offered)) {
        gst_caps_unref(offered);
        gst_caps_unref(wanted);
        return E_FAIL;
    }
    GstStructure* first = gst_caps_get_structure(offered, 0);
    const REFERENCE_TIME interval = video->AvgTimePerFrame;
    if (interval > 0 && gst_structure_has_field(first, "framerate")) {
        gst_structure_fixate_field_nearest_fraction(first, "framerate", static_cast<int>(kReferenceTimePerSecond),
                                                    static_cast<int>(interval));
        if (const GValue* rate = gst_structure_get_value(first, "framerate"); GST_VALUE_HOLDS_FRACTION(rate)) {
            gst_caps_set_value(wanted, "framerate", rate);
        }
    }
    gst_caps_unref(offered);
    g_object_set(m_format, "caps", wanted, nullptr);
    gst_caps_unref(wanted);
    return S_OK;
}

HRESULT GstCaptureFilter::GetNumberOfCapabilities(int* count, int* recordSize) {
    if (!count || !recordSize) return E_POINTER;
    *count = static_cast<int>(Capabilities().size());
    *recordSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT GstCaptureFilter::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* record) {
    if (!type || !record) return E_POINTER;
    const auto& capabilities = Capabilities();
    if (index < 0 || static_cast<size_t>(index) >= capabilities.size()) return S_FALSE;
    const VideoFormat& format = capabilities[index];
    *type = MediaTypeFromVideoFormat(format);
    if (!*type) return E_OUTOFMEMORY;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    caps.guid = FORMAT_VideoInfo;
    caps.InputSize = caps.MinOutputSize = caps.MaxOutputSize = SIZE{format.width, format.height};
    caps.MinFrameInterval = caps.MaxFrameInterval = format.Interval();
    std::memcpy(record, &caps, sizeof(caps));
    return S_OK;
}

}  // namespace media
