// The process-wide source of media objects. It is the GStreamer platform
// unless a test installs another one (an in-memory fake).
#pragma once

#include "platform/media/media_interfaces.h"

namespace media {

struct IMediaPlatform {
    // Creates an object of the class and returns the asked interface with one reference.
    virtual HRESULT CreateInstance(const CLSID& classId, const IID& iid, void** out) = 0;
    // Shows the property pages of the objects in a modal frame at (x, y)
    // relative to the parent, captioned with the given narrow text.
    virtual HRESULT CreatePropertyFrame(HWND parent, int x, int y, const char* caption, ULONG objectCount,
                                        ITavolinUnknown** objects, ULONG pageCount, const CLSID* pages,
                                        LCID locale) = 0;

protected:
    ~IMediaPlatform() = default;
};

IMediaPlatform* CurrentMediaPlatform();
// Null restores the GStreamer platform. Install before creating media objects.
void SetMediaPlatformForTesting(IMediaPlatform* platform);

HRESULT CoCreateInstance(const CLSID& classId, const IID& iid, void** out);
HRESULT OleCreatePropertyFrame(HWND parent, int x, int y, const char* caption, ULONG objectCount,
                               ITavolinUnknown** objects, ULONG pageCount, const CLSID* pages, LCID locale);

}  // namespace media
