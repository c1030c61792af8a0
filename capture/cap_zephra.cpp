// The capture engine's life: construction, the attempts of Create, one
// graph build, running, stopping and tearing the graph down.
#include "capture/cap_zephra.h"

#include "capture/capture_texts.h"
#include "platform/log.h"
#include "platform/media/media_platform.h"

#include <string>
#include <utility>

using namespace media;
namespace texts = capture_texts;

namespace {

template <class Interface>
void ReleaseAndClear(Interface*& pointer) {
    if (pointer) pointer->Release();
    pointer = nullptr;
}

}  // namespace

CCapZephra::CCapZephra() = default;

CCapZephra::~CCapZephra() { DestroyGraph(); }

HRESULT CCapZephra::QueryInterface(const IID&, void**) { return E_FAIL; }

ULONG CCapZephra::AddRef() { return 0; }

ULONG CCapZephra::Release() { return 0; }

HRESULT CCapZephra::SampleCB(double, IMediaSample*) { return 0; }

void CCapZephra::SetLogSink(ITavolinLogSink* sink) { m_pLog = sink; }

void CCapZephra::SetFrameNotice(UINT message, void* context) {
    m_uFrameMessage = message;
    m_pFrameContext = context;
}

int CCapZephra::Create(HWND window, int width, int height) {
    // The engine's Destroy only stops the graph: a Create after it starts
    // from nothing rather than building over the old graph.
    DestroyGraph();
    m_InvalidList.clear();
    std::string choice = std::exchange(m_ChosenBeforeCreate, {});
    // Every camera that fails to run joins the invalid list and is skipped
    // by the next attempt, so the loop ends when no camera is left.
    for (int attempt = 1;; ++attempt) {
        LogTo(m_pLog, texts::kLoop, attempt);
        if (choice.empty())
            m_szDevice[0] = '\0';
        else
            RecordName(choice.c_str());
        if (!InnerCreate(window, width, height)) {
            DestroyGraph();
            // The chosen camera is not there: any camera will do.
            if (!choice.empty()) {
                choice.clear();
                continue;
            }
            return 0;
        }
        // Reset while the graph is stopped: once Run returns, BufferCB owns the time.
        m_dLastTime = 0.0;
        if (m_pControl && SUCCEEDED(m_pControl->Run())) {
            m_bRunning = 1;
            if (SUCCEEDED(m_pControl->Stop())) m_bRunning = 0;
            // Frames of the trial run are no one's: the camera is not on yet.
            m_Ring.Clear();
            return 1;
        }
        if (m_pControl && SUCCEEDED(m_pControl->Stop())) m_bRunning = 0;
        if (m_szDevice[0] == '\0') return 0;
        m_InvalidList.emplace_back(m_szDevice);
        choice.clear();
        DestroyGraph();
    }
}

bool CCapZephra::FitsSlot(int width, int height) {
    constexpr auto kMaxSide = static_cast<int>(kFrameSlotBytes);
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
           static_cast<int64_t>(Stride24(width)) * height <= static_cast<int64_t>(kFrameSlotBytes);
}

int CCapZephra::InnerCreate(HWND window, int width, int height) {
    if (!FitsSlot(width, height)) return 0;
    try {
        m_hWnd = window;
        LogTo(m_pLog, texts::kInitCaptureGraphBuilder);
        if (FAILED(InitCaptureGraphBuilder(&m_pGraph, &m_pBuilder))) return 0;

        LogTo(m_pLog, texts::kEnumDevice);
        if (FAILED(EnumDevice())) return 0;

        m_nReqWidth = width;
        m_nReqHeight = height;
        LogTo(m_pLog, texts::kInitVideoSize);
        InitVideoSize(width, height);

        LogTo(m_pLog, texts::kInitGrapbber);
        if (FAILED(InitGrapbber())) return 0;

        // A camera without driver dialogs is no failure.
        LogTo(m_pLog, texts::kFindInterface);
        ReleaseAndClear(m_pVfwDialogs);
        m_pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, m_pCapFilter, IID_IAMVfwCaptureDialogs,
                                  reinterpret_cast<void**>(&m_pVfwDialogs));

        if (!m_Ring.Allocate()) return 0;

        const int32_t sourceWidth = m_bmih.biWidth;
        const int32_t sourceHeight = m_bmih.biHeight;
        m_Src = {nullptr, Stride24(sourceWidth), sourceWidth, sourceHeight};
        m_Dst = {nullptr, Stride24(width), width, height};
        m_bScale = (sourceWidth == width && sourceHeight == height) ? 0 : 1;
        m_nExpectedLen = Stride24(sourceWidth) * sourceHeight;

        LogTo(m_pLog, texts::kInnerCreateReturn);
        return 1;
    } catch (...) {
        return 0;
    }
}

int CCapZephra::StartCapture() {
    // The rate limit restarts with the stream; a running graph keeps its
    // time, which BufferCB alone touches while it runs.
    if (!m_bRunning) m_dLastTime = 0.0;
    if (!m_pControl || FAILED(m_pControl->Run())) return 0;
    m_bRunning = 1;
    return 1;
}

int CCapZephra::StopCapture() {
    if (!m_pControl || FAILED(m_pControl->Stop())) return 0;
    m_bRunning = 0;
    return 1;
}

int CCapZephra::DestroyGraph() {
    // Stopping first: after it no BufferCB touches the ring freed below.
    if (m_pControl) m_pControl->StopWhenReady();
    ReleaseAndClear(m_pCapFilter);
    ReleaseAndClear(m_pGrabber);
    ReleaseAndClear(m_pControl);
    if (m_pBuilder) m_pBuilder->SetFiltergraph(nullptr);
    ReleaseAndClear(m_pBuilder);
    ReleaseAndClear(m_pGraph);
    ReleaseAndClear(m_pVfwDialogs);
    m_Ring.Free();
    m_nExpectedLen = 0;
    m_dLastTime = 0.0;
    m_bRunning = 0;
    return 1;
}
