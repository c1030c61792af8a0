// Pins and pin enumeration shared by the platforms' filters. A pin lives
// inside its filter and shares the filter's reference count.
#pragma once

#include "platform/media/media_object.h"

#include <vector>

namespace media {

class MediaPin : public IPin {
public:
    MediaPin(IBaseFilter* owner, PIN_DIRECTION direction) : m_owner(owner), m_direction(direction) {}

    HRESULT QueryInterface(const IID& iid, void** out) override;
    ULONG AddRef() override { return m_owner->AddRef(); }
    ULONG Release() override { return m_owner->Release(); }
    HRESULT QueryDirection(PIN_DIRECTION* direction) override;

    IBaseFilter* Owner() const { return m_owner; }

private:
    IBaseFilter* m_owner;
    PIN_DIRECTION m_direction;
};

class PinEnumerator : public MediaObject<IEnumPins> {
public:
    explicit PinEnumerator(std::vector<IPin*> pins);
    HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override;

private:
    ~PinEnumerator() override;
    std::vector<IPin*> m_pins;
    size_t m_next = 0;
};

}  // namespace media
