// The capture engine: builds the capture graph for the first camera that runs,
// limits the rate, scales each frame to the requested size, keeps the last
// four in a ring and posts MSG_FRAME_CAPTURED to the engine's window.
#pragma once

#include "engine/internal_interfaces.h"
#include "platform/win32.h"

#include <cstdint>

class CCapZephra /* : public ISampleGrabberCB (first base) */ {
public:
    CCapZephra();
    ~CCapZephra();

    void SetLogSink(ITavolinLogSink* sink);
    void SetEngine(void* engine);

    int Create(HWND window, int width, int height);
    int StartCapture();
    int StopCapture();
    int DestroyGraph();
    // Oldest frame of the ring (valid until the next call), or null.
    uint8_t* GetFrame(uint32_t* length);

    int EnumDevices(ITavolinDeviceNameSink* sink);
    const char* GetDeviceName();
    int SelectDevice(const char* name);
    int HasPropertyPage(int dialog);
    int ShowPropertyPage(HWND parent, int dialog);
};

// The stand-alone enumerator handed out for CLSID_TavolinDeviceEnum, with one
// reference; null when out of memory.
ITavolinDeviceEnum* NewTavolinDeviceEnum();
