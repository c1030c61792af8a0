// The capture engine: builds the capture graph for the first camera that runs,
// limits the rate, scales each frame to the requested size, keeps the last
// four in a ring and posts MSG_FRAME_CAPTURED to the engine's window.
#pragma once

#include "capture/capture_constants.h"
#include "capture/scaler.h"
#include "engine/internal_interfaces.h"
#include "platform/media/media_interfaces.h"
#include "platform/win32.h"

#include <cstdint>
#include <string>
#include <vector>

// One frame of the ring: the bytes held, then room for the largest frame.
struct FrameSlot {
    uint32_t length;
    uint8_t data[kFrameSlotBytes];
};

// The object is its own grabber callback: BufferCB runs on the graph's
// streaming thread, everything else on the engine's thread.
class CCapZephra : public media::ISampleGrabberCB {
public:
    CCapZephra();
    ~CCapZephra();
    CCapZephra(const CCapZephra&) = delete;
    CCapZephra& operator=(const CCapZephra&) = delete;

    // The callback hands out no interface and counts no references: the
    // object lives exactly as long as the engine.
    HRESULT QueryInterface(const IID& iid, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT SampleCB(double sampleTime, media::IMediaSample* sample) override;
    HRESULT BufferCB(double sampleTime, media::BYTE* buffer, media::LONG length) override;

    void SetLogSink(ITavolinLogSink* sink);
    void SetEngine(void* engine);

    // Builds the graph with the first camera that runs and leaves it stopped.
    int Create(HWND window, int width, int height);
    // One attempt at building the graph.
    int InnerCreate(HWND window, int width, int height);
    HRESULT InitCaptureGraphBuilder(media::IGraphBuilder** graph, media::ICaptureGraphBuilder2** builder);
    HRESULT InitGrapbber();
    int StartCapture();
    int StopCapture();
    // Releases the graph and the frame buffers; always 1.
    int DestroyGraph();
    // Oldest frame of the ring (valid until the next call), or null.
    uint8_t* GetFrame(uint32_t* length);

    // Chooses, binds and adds the camera's capture filter to the graph.
    HRESULT EnumDevice();
    int EnumDevices(ITavolinDeviceNameSink* sink);
    const char* GetDeviceName();
    int SelectDevice(const char* name);

    // Asks the camera for the size at 25 frames per second, falling back
    // on its capability list.
    HRESULT InitVideoSize(int width, int height);
    // Derives the delivered size from a changed buffer length; non-zero on success.
    int AdaptToBufferSize(int length);
    int HasPropertyPage(int dialog);
    int ShowPropertyPage(HWND parent, int dialog);

private:
    // A request whose frame would not fit a ring slot is refused.
    static bool FitsSlot(int width, int height);
    void StoreFrame(const media::BYTE* buffer, media::LONG length);
    media::IAMStreamConfig* FindStreamConfig(HRESULT* result);
    void RecordName(const char* name);

    ITavolinLogSink* m_pLog = nullptr;
    FrameSlot* m_pRing = nullptr;
    FrameSlot* m_pStaging = nullptr;
    int32_t m_nRead = 0;
    int32_t m_nWrite = 0;
    int32_t m_nCount = 0;
    CRITICAL_SECTION m_csRing;
    media::IGraphBuilder* m_pGraph = nullptr;
    media::ICaptureGraphBuilder2* m_pBuilder = nullptr;
    media::IBaseFilter* m_pCapFilter = nullptr;
    void* m_pEngine = nullptr;
    media::IAMVfwCaptureDialogs* m_pVfwDialogs = nullptr;
    int32_t m_nReqWidth = 0;
    int32_t m_nReqHeight = 0;
    ImageDesc m_Src{};
    ImageDesc m_Dst{};
    int32_t m_bRunning = 0;
    int32_t m_bScale = 0;
    media::IMediaControl* m_pControl = nullptr;
    media::ISampleGrabber* m_pGrabber = nullptr;
    HWND m_hWnd = nullptr;
    BITMAPINFOHEADER m_bmih{};
    double m_dLastTime = 0.0;
    char m_szDevice[kDeviceNameMaxLength + 1] = {};
    int32_t m_nExpectedLen = 0;
    std::vector<std::string> m_InvalidList;
};

// The stand-alone enumerator handed out for CLSID_TavolinDeviceEnum, with one
// reference; null when out of memory.
ITavolinDeviceEnum* NewTavolinDeviceEnum();
