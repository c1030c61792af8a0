#include "platform/media/media_platform.h"

#include "platform/media/gst/gst_platform.h"

#include <atomic>

namespace media {

namespace {
std::atomic<IMediaPlatform*> g_testPlatform{nullptr};
}

IMediaPlatform* CurrentMediaPlatform() {
    IMediaPlatform* installed = g_testPlatform.load();
    return installed ? installed : &GstMediaPlatform();
}

void SetMediaPlatformForTesting(IMediaPlatform* platform) { g_testPlatform.store(platform); }

HRESULT CoCreateInstance(const CLSID& classId, const IID& iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return CurrentMediaPlatform()->CreateInstance(classId, iid, out);
}

HRESULT OleCreatePropertyFrame(HWND parent, int x, int y, const char* caption, ULONG objectCount,
                               ITavolinUnknown** objects, ULONG pageCount, const CLSID* pages, LCID locale) {
    return CurrentMediaPlatform()->CreatePropertyFrame(parent, x, y, caption, objectCount, objects, pageCount, pages,
                                                       locale);
}

}  // namespace media
