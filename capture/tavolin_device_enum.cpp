// The stand-alone camera lister handed to hosts that want camera names
// without an engine.
#include "capture/cap_zephra.h"

#include "capture/device_names.h"
#include "platform/media/media_interfaces.h"

#include <new>

using namespace media;

namespace {

class CTavolinDeviceEnum final : public ITavolinDeviceEnum {
public:
    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (!out) return E_INVALIDARG;
        if (!IsEqualGUID(iid, IID_ITavolinDeviceEnum)) return E_NOINTERFACE;
        *out = static_cast<ITavolinDeviceEnum*>(this);
        AddRef();
        return S_OK;
    }

    ULONG AddRef() override { return static_cast<ULONG>(++m_nRef); }

    ULONG Release() override {
        if (--m_nRef != 0) return static_cast<ULONG>(m_nRef);
        if (m_pEnumMoniker) m_pEnumMoniker->Release();
        if (m_pSysDevEnum) m_pSysDevEnum->Release();
        delete this;
        return 0;
    }

    int GetDeviceCount() override {
        EnsureEnumerators();
        if (!m_pEnumMoniker) return -1;
        m_pEnumMoniker->Reset();
        return CountNamedDevices(m_pEnumMoniker);
    }

    int HasDevice() override {
        EnsureEnumerators();
        if (!m_pEnumMoniker) return 0;
        m_pEnumMoniker->Reset();
        return CountNamedDevices(m_pEnumMoniker, 1) > 0 ? 1 : 0;
    }

    // Lists only after GetDeviceCount or HasDevice made the enumerators.
    int EnumDevices(int, ITavolinDeviceNameSink* sink) override {
        if (!sink || !m_pEnumMoniker) return 0;
        m_pEnumMoniker->Reset();
        // The sink may give back the host's last reference during the walk.
        AddRef();
        ReportDeviceNames(m_pEnumMoniker, sink);
        Release();
        return 1;
    }

private:
    // Kept from first use until the last Release; an empty category leaves
    // no camera enumerator and is asked again next time.
    void EnsureEnumerators() {
        if (!m_pSysDevEnum) {
            if (m_pEnumMoniker) m_pEnumMoniker->Release();
            m_pEnumMoniker = nullptr;
            if (FAILED(CreateSystemDeviceEnum(&m_pSysDevEnum))) {
                m_pSysDevEnum = nullptr;
                return;
            }
        }
        if (!m_pEnumMoniker) CreateCameraEnumerator(m_pSysDevEnum, &m_pEnumMoniker);
    }

    int32_t m_nRef = 1;
    ICreateDevEnum* m_pSysDevEnum = nullptr;
    IEnumMoniker* m_pEnumMoniker = nullptr;
};

}  // namespace

ITavolinDeviceEnum* NewTavolinDeviceEnum() { return new (std::nothrow) CTavolinDeviceEnum; }
