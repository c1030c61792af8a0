// Building the capture graph: graph, builder and media control, then the
// sample grabber connected to the camera.
#include "capture/cap_zephra.h"

#include "capture/capture_texts.h"
#include "platform/log.h"
#include "platform/media/media_object.h"
#include "platform/media/media_platform.h"

using namespace media;
namespace texts = capture_texts;

namespace {

// The first pin of the filter, in enumeration order, with this direction.
IPin* FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Out())) || !pins) return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.Out(), nullptr) == S_OK) {
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) {
            IPin* found = pin.Get();
            found->AddRef();
            return found;
        }
    }
    return nullptr;
}

}  // namespace

HRESULT CCapZephra::InitCaptureGraphBuilder(IGraphBuilder** graph, ICaptureGraphBuilder2** builder) {
    if (!graph || !builder) return E_POINTER;
    LogTo(m_pLog, texts::kInitCaptureGraphBuilder);
    ComPtr<ICaptureGraphBuilder2> newBuilder;
    HRESULT result = CoCreateInstance(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, newBuilder.OutVoid());
    if (FAILED(result)) return result;

    LogTo(m_pLog, texts::kCoCreateInstance);
    ComPtr<IGraphBuilder> newGraph;
    result = CoCreateInstance(CLSID_FilterGraph, IID_IGraphBuilder, newGraph.OutVoid());
    if (FAILED(result)) return result;
    result = newGraph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m_pControl));
    if (FAILED(result)) return result;

    LogTo(m_pLog, texts::kSetFiltergraph);
    newBuilder->SetFiltergraph(newGraph.Get());
    *graph = newGraph.Get();
    *builder = newBuilder.Get();
    (*graph)->AddRef();
    (*builder)->AddRef();
    return S_OK;
}

HRESULT CCapZephra::InitGrapbber() {
    HRESULT result = CoCreateInstance(CLSID_SampleGrabber, IID_ISampleGrabber, reinterpret_cast<void**>(&m_pGrabber));
    if (FAILED(result)) return result;
    ComPtr<IBaseFilter> grabberFilter;
    result = m_pGrabber->QueryInterface(IID_IBaseFilter, grabberFilter.OutVoid());
    if (FAILED(result)) return result;

    AM_MEDIA_TYPE rgb24{};
    rgb24.majortype = MEDIATYPE_Video;
    rgb24.subtype = MEDIASUBTYPE_RGB24;
    LogTo(m_pLog, texts::kGrabberSetMediaType);
    result = m_pGrabber->SetMediaType(&rgb24);
    if (FAILED(result)) return result;

    LogTo(m_pLog, texts::kGrabberAddFilter);
    result = m_pGraph->AddFilter(grabberFilter.Get(), texts::kGrabberFilterName);
    if (FAILED(result)) return result;

    LogTo(m_pLog, texts::kGrabberGetOutPin);
    ComPtr<IPin> output(FirstPin(m_pCapFilter, PINDIR_OUTPUT));
    LogTo(m_pLog, texts::kGrabberGetInPin);
    ComPtr<IPin> input(FirstPin(grabberFilter.Get(), PINDIR_INPUT));

    // The graph may put converters between them so that the grabber gets 24-bit RGB.
    LogTo(m_pLog, texts::kGrabberConnect);
    result = (output && input) ? m_pGraph->Connect(output.Get(), input.Get()) : E_POINTER;
    if (FAILED(result)) return result;

    LogTo(m_pLog, texts::kGrabberGetConnectedMediaType);
    AM_MEDIA_TYPE connected{};
    result = m_pGrabber->GetConnectedMediaType(&connected);
    if (FAILED(result)) return result;
    const bool described = HasVideoInfo(connected);
    if (described) m_bmih = VideoInfoOf(connected)->bmiHeader;
    FreeMediaType(connected);
    // Without a bitmap header the delivered size is unknown.
    if (!described) return E_FAIL;

    m_pGrabber->SetBufferSamples(0);
    m_pGrabber->SetOneShot(0);
    m_pGrabber->SetCallback(this, kGrabberCallsBufferCB);
    return S_OK;
}
