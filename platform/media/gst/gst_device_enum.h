// Camera enumeration: the devices GStreamer's device monitor finds in the
// "Video/Source" class, then the synthetic cameras, each named by its
// display name ("FriendlyName").
#pragma once

#include "platform/media/media_object.h"

#include <gst/gst.h>

#include <functional>
#include <string>
#include <vector>

namespace media {

// A camera no device monitor finds (a synthetic one a host adds).
struct ExtraCamera {
    std::string name;
    // A floating source element with one "src" pad; null on failure.
    std::function<GstElement*()> createSource;
};
// Whoever adds such cameras sets their source before the first one; it is
// called on the thread that enumerates the cameras.
void SetExtraCameras(std::vector<ExtraCamera> (*cameras)());

class GstSystemDeviceEnum final : public MediaObject<ICreateDevEnum> {
public:
    HRESULT CreateClassEnumerator(const CLSID& category, IEnumMoniker** out, DWORD flags) override;
};

}  // namespace media
