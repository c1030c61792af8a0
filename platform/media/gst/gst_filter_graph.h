// The filter graph: a pipeline that holds the filters added to it, links a
// camera to the grabber through a colour converter and a scaler, and runs
// and stops the whole.
#pragma once

#include "platform/media/gst/stream_start_monitor.h"
#include "platform/media/media_object.h"

#include <gst/gst.h>

#include <memory>
#include <vector>

namespace media {

class GstSampleGrabber;

class GstFilterGraph final : public MediaObject<IGraphBuilder, IMediaControl> {
public:
    // Null when the pipeline cannot be made.
    static GstFilterGraph* Create();

    HRESULT AddFilter(IBaseFilter* filter, const char* name) override;
    HRESULT Connect(IPin* output, IPin* input) override;

    // Runs the pipeline and waits briefly to see the camera stream: a
    // source that fails at once or reports an error before its first sample
    // reaches the grabber makes Run fail (the graph is then stopped again).
    HRESULT Run() override;
    HRESULT Stop() override;
    HRESULT StopWhenReady() override;

private:
    explicit GstFilterGraph(GstElement* pipeline);
    ~GstFilterGraph() override;

    static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer monitor);
    bool Holds(GstElement* element) const;

    GstElement* m_pipeline;
    std::vector<IBaseFilter*> m_filters;
    GstSampleGrabber* m_grabber = nullptr;  // the connected grabber, one of m_filters
    std::shared_ptr<StreamStartMonitor> m_monitor = std::make_shared<StreamStartMonitor>();
};

class GstCaptureGraphBuilder final : public MediaObject<ICaptureGraphBuilder2> {
public:
    HRESULT SetFiltergraph(IGraphBuilder* graph) override;
    // Cameras here have one video capture pin; its interfaces are the filter's.
    HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, const IID& iid,
                          void** out) override;

private:
    ~GstCaptureGraphBuilder() override;
    IGraphBuilder* m_graph = nullptr;
};

}  // namespace media
