// The capture engine: builds the capture graph for the first camera that runs,
// limits the rate, scales each frame to the requested size, keeps the last
// four in a ring and posts a notice of each to the engine's window.
#pragma once

#include "capture/capture_constants.h"
#include "capture/frame_ring.h"
#include "capture/scaler.h"
#include "platform/media/media_interfaces.h"
#include "platform/win32.h"

#include <cstdint>
#include <string>
#include <vector>

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
    // Each stored frame is announced with `message` (lParam: `context`).
    void SetFrameNotice(UINT message, void* context);

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
    // Copies or scales one frame into `slot`; returns its length.
    uint32_t CopyFrame(const media::BYTE* buffer, media::LONG length, uint8_t* slot);
    media::IAMStreamConfig* FindStreamConfig(HRESULT* result);
    void RecordName(const char* name);

    ITavolinLogSink* m_pLog = nullptr;
    FrameRing m_Ring;
    media::IGraphBuilder* m_pGraph = nullptr;
    media::ICaptureGraphBuilder2* m_pBuilder = nullptr;
    media::IBaseFilter* m_pCapFilter = nullptr;
    UINT m_uFrameMessage = 0;
    void* m_pFrameContext = nullptr;
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
    // A camera the host chose before Create, tried first by Create.
    std::string m_ChosenBeforeCreate;
    int32_t m_nExpectedLen = 0;
    std::vector<std::string> m_InvalidList;
};

// The stand-alone enumerator handed out for CLSID_TavolinDeviceEnum, with one
// reference; null when out of memory.
ITavolinDeviceEnum* NewTavolinDeviceEnum();
