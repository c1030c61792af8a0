#include "platform/media/media_devices.h"

namespace media {

HRESULT PropertyBag::Read(const char* name, VARIANT* value) {
    if (!name || !value) return E_POINTER;
    const auto found = m_values.find(name);
    if (found == m_values.end()) return E_FAIL;
    VariantClear(value);
    value->vt = VT_BSTR;
    value->bstrVal = found->second ? CoTaskMemStrDup(found->second->c_str()) : nullptr;
    return S_OK;
}

MonikerEnumerator::~MonikerEnumerator() {
    for (IMoniker* device : m_devices) device->Release();
}

HRESULT MonikerEnumerator::Next(ULONG count, IMoniker** monikers, ULONG* fetched) {
    if (!monikers) return E_POINTER;
    ULONG taken = 0;
    for (; taken < count && m_next < m_devices.size(); ++taken, ++m_next) {
        monikers[taken] = m_devices[m_next];
        monikers[taken]->AddRef();
    }
    if (fetched) *fetched = taken;
    return taken == count ? S_OK : S_FALSE;
}

HRESULT MonikerEnumerator::Reset() {
    m_next = 0;
    return S_OK;
}

}  // namespace media
