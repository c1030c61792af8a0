// The sample grabber: an application sink that receives 24-bit BGR and
// calls BufferCB on the streaming thread with the rows turned bottom-up.
#pragma once

#include "platform/media/gst/gst_filter_element.h"
#include "platform/media/gst/stream_start_monitor.h"
#include "platform/media/media_pins.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <memory>
#include <mutex>
#include <vector>

namespace media {

class GstSampleGrabber final : public MediaObject<ISampleGrabber, IBaseFilter>, public GstFilterElement {
public:
    // Null when the sink cannot be made.
    static GstSampleGrabber* Create();

    HRESULT SetOneShot(BOOL oneShot) override;
    HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override;
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT SetBufferSamples(BOOL buffer) override;
    HRESULT SetCallback(ISampleGrabberCB* callback, LONG mode) override;
    HRESULT EnumPins(IEnumPins** pins) override;

    GstElement* Element() const override { return m_sink; }
    MediaPin* InputPin() { return &m_input; }

    // The graph connected the grabber: frames arrive at this size.
    void OnConnected(int width, int height, std::shared_ptr<StreamStartMonitor> monitor);
    void StartDelivering();
    // Returns when no BufferCB is running; none starts until StartDelivering.
    void StopDelivering();

private:
    explicit GstSampleGrabber(GstElement* sink);
    ~GstSampleGrabber() override;

    static GstFlowReturn OnNewSample(GstAppSink* sink, gpointer grabber);
    void Deliver(GstSample* sample);
    double StreamTimeOf(GstSample* sample, GstBuffer* buffer) const;

    GstElement* m_sink;
    MediaPin m_input{this, PINDIR_INPUT};
    MediaPin m_output{this, PINDIR_OUTPUT};
    int m_connectedWidth = 0;
    int m_connectedHeight = 0;
    std::shared_ptr<StreamStartMonitor> m_monitor;

    // Guards the callback and the delivering flag against the streaming thread.
    std::mutex m_deliveryLock;
    bool m_delivering = false;
    ISampleGrabberCB* m_callback = nullptr;
    // Streaming thread only: the format of the last frame and its bottom-up copy.
    GstCaps* m_frameCaps = nullptr;
    GstVideoInfo m_frameInfo{};
    std::vector<BYTE> m_bottomUp;
};

}  // namespace media
