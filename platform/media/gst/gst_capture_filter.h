// A camera as a capture filter: the device's source element followed by a
// caps filter that stands for the format chosen through IAMStreamConfig.
#pragma once

#include "platform/media/gst/gst_filter_element.h"
#include "platform/media/gst/gst_video_format.h"
#include "platform/media/media_pins.h"

#include <optional>
#include <vector>

namespace media {

class GstCaptureFilter final : public MediaObject<IBaseFilter, IAMStreamConfig>, public GstFilterElement {
public:
    // Takes over a floating source element with a "src" pad; null on failure.
    static GstCaptureFilter* Create(GstElement* source);

    HRESULT EnumPins(IEnumPins** pins) override;

    HRESULT SetFormat(AM_MEDIA_TYPE* type) override;
    HRESULT GetFormat(AM_MEDIA_TYPE** type) override;
    HRESULT GetNumberOfCapabilities(int* count, int* recordSize) override;
    HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* record) override;

    GstElement* Element() const override { return m_bin; }
    MediaPin* OutputPin() { return &m_output; }
    // What the filter delivers with its current format, as GStreamer would
    // settle it; nullopt when the device cannot be opened.
    std::optional<VideoFormat> DeliveredFormat();

private:
    GstCaptureFilter(GstElement* bin, GstElement* source, GstElement* format);
    ~GstCaptureFilter() override;

    // The raw caps an element's "src" pad offers. The device is opened
    // (READY) first: only an open device lists what it can do.
    GstCaps* QueryRawCaps(GstElement* element);
    const std::vector<VideoFormat>& Capabilities();

    GstElement* m_bin;
    GstElement* m_source;
    GstElement* m_format;
    MediaPin m_output{this, PINDIR_OUTPUT};
    std::optional<std::vector<VideoFormat>> m_capabilities;
};

}  // namespace media
