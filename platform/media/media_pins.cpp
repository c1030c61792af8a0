#include "platform/media/media_pins.h"

namespace media {

HRESULT MediaPin::QueryInterface(const IID& iid, void** out) {
    if (!out) return E_POINTER;
    if (!IsEqualGUID(iid, IID_IPin) && !IsEqualGUID(iid, IID_IUnknown)) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    *out = static_cast<IPin*>(this);
    AddRef();
    return S_OK;
}

HRESULT MediaPin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) return E_POINTER;
    *direction = m_direction;
    return S_OK;
}

PinEnumerator::PinEnumerator(std::vector<IPin*> pins) : m_pins(std::move(pins)) {
    for (IPin* pin : m_pins) pin->AddRef();
}

PinEnumerator::~PinEnumerator() {
    for (IPin* pin : m_pins) pin->Release();
}

HRESULT PinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched) {
    if (!pins) return E_POINTER;
    ULONG taken = 0;
    for (; taken < count && m_next < m_pins.size(); ++taken, ++m_next) {
        pins[taken] = m_pins[m_next];
        pins[taken]->AddRef();
    }
    if (fetched) *fetched = taken;
    return taken == count ? S_OK : S_FALSE;
}

}  // namespace media
