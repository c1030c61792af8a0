// Choosing the camera: the walk that binds it into the graph, the list of
// names for the host, and selection by name.
#include "capture/cap_zephra.h"

#include "capture/capture_texts.h"
#include "capture/device_names.h"
#include "platform/log.h"
#include "platform/media/media_object.h"

#include <algorithm>
#include <strings.h>

using namespace media;
namespace texts = capture_texts;

namespace {

// A name as m_szDevice keeps it. Cameras are compared in this form, so a
// long name that failed stays skipped and a long chosen name still matches.
std::string Recorded(const char* name) { return std::string(name).substr(0, kDeviceNameMaxLength); }

}  // namespace

void CCapZephra::RecordName(const char* name) {
    const std::string recorded = Recorded(name);
    std::copy_n(recorded.c_str(), recorded.size() + 1, m_szDevice);
}

HRESULT CCapZephra::EnumDevice() {
    ComPtr<ICreateDevEnum> system;
    ComPtr<IEnumMoniker> cameras;
    if (FAILED(CreateSystemDeviceEnum(system.Out())) || FAILED(CreateCameraEnumerator(system.Get(), cameras.Out())) ||
        !cameras) {
        return E_FAIL;
    }
    ComPtr<IMoniker> device;
    while (cameras->Next(1, device.Out(), nullptr) == S_OK) {
        VARIANT value;
        if (FAILED(ReadDeviceName(device.Get(), &value))) continue;
        // A name property without text names nothing that could be chosen.
        if (!value.bstrVal) {
            VariantClear(&value);
            continue;
        }
        const std::string name = value.bstrVal;
        VariantClear(&value);
        LogTo(m_pLog, texts::kDeviceName, name.c_str());
        const std::string recorded = Recorded(name.c_str());
        if (std::find(m_InvalidList.begin(), m_InvalidList.end(), recorded) != m_InvalidList.end()) {
            LogTo(m_pLog, texts::kDeviceInvalid, name.c_str());
            continue;
        }
        if (m_szDevice[0] != '\0' && strcasecmp(m_szDevice, recorded.c_str()) != 0) continue;

        // Recorded before binding: a camera that cannot be bound narrows the
        // rest of the walk to cameras of the same name.
        RecordName(name.c_str());
        LogTo(m_pLog, texts::kDeviceBindToObject, name.c_str());
        if (FAILED(device->BindToObject(IID_IBaseFilter, reinterpret_cast<void**>(&m_pCapFilter)))) continue;

        LogTo(m_pLog, texts::kDeviceAddFilter, name.c_str());
        if (SUCCEEDED(m_pGraph->AddFilter(m_pCapFilter, texts::kCaptureFilterName))) return S_OK;
        m_pCapFilter->Release();
        m_pCapFilter = nullptr;
    }
    return E_FAIL;
}

int CCapZephra::EnumDevices(ITavolinDeviceNameSink* sink) {
    if (!sink) return 0;
    ComPtr<ICreateDevEnum> system;
    if (FAILED(CreateSystemDeviceEnum(system.Out()))) return 0;
    ComPtr<IEnumMoniker> cameras;
    if (FAILED(CreateCameraEnumerator(system.Get(), cameras.Out())) || !cameras) return E_FAIL;
    ReportDeviceNames(cameras.Get(), sink);
    return 1;
}

const char* CCapZephra::GetDeviceName() { return m_szDevice; }

int CCapZephra::SelectDevice(const char* name) {
    if (!name) return 0;
    // No camera chosen yet: remember the name for Create.
    if (m_szDevice[0] == '\0') {
        RecordName(name);
        m_ChosenBeforeCreate = m_szDevice;
        return 1;
    }
    const std::string previous = m_szDevice;
    const bool wasRunning = m_bRunning;
    RecordName(name);
    DestroyGraph();
    m_InvalidList.clear();
    if (InnerCreate(m_hWnd, m_nReqWidth, m_nReqHeight)) return 1;
    // The camera that worked comes back, running if it ran, and the log says so.
    DestroyGraph();
    LogTo(m_pLog, texts::kSelectFailed, name, previous.c_str());
    RecordName(previous.c_str());
    if (InnerCreate(m_hWnd, m_nReqWidth, m_nReqHeight) && wasRunning) StartCapture();
    return 0;
}
