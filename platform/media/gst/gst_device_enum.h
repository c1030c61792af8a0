// Camera enumeration: the devices GStreamer's device monitor finds in the
// "Video/Source" class, then the synthetic cameras, each named by its
// display name ("FriendlyName").
#pragma once

#include "platform/media/media_object.h"

namespace media {

class GstSystemDeviceEnum final : public MediaObject<ICreateDevEnum> {
public:
    HRESULT CreateClassEnumerator(const CLSID& category, IEnumMoniker** out, DWORD flags) override;
};

}  // namespace media
