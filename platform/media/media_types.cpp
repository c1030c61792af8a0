#include "platform/media/media_types.h"

#include <cstdlib>

namespace media {

void* CoTaskMemAlloc(size_t bytes) { return std::malloc(bytes); }

void CoTaskMemFree(void* memory) { std::free(memory); }

char* CoTaskMemStrDup(const char* text) {
    const size_t bytes = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(CoTaskMemAlloc(bytes));
    if (copy) std::memcpy(copy, text, bytes);
    return copy;
}

void VariantInit(VARIANT* value) {
    value->vt = VT_EMPTY;
    value->bstrVal = nullptr;
}

void VariantClear(VARIANT* value) {
    if (value->vt == VT_BSTR) CoTaskMemFree(value->bstrVal);
    VariantInit(value);
}

void FreeMediaType(AM_MEDIA_TYPE& type) {
    CoTaskMemFree(type.pbFormat);
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    if (type.pUnk) type.pUnk->Release();
    type.pUnk = nullptr;
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
    if (!type) return;
    FreeMediaType(*type);
    CoTaskMemFree(type);
}

AM_MEDIA_TYPE* CreateVideoInfoMediaType(const GUID& subtype) {
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    auto* info = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!type || !info) {
        CoTaskMemFree(type);
        CoTaskMemFree(info);
        return nullptr;
    }
    *type = AM_MEDIA_TYPE{};
    *info = VIDEOINFOHEADER{};
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biPlanes = 1;
    type->majortype = MEDIATYPE_Video;
    type->subtype = subtype;
    type->bFixedSizeSamples = 1;
    type->formattype = FORMAT_VideoInfo;
    type->cbFormat = sizeof(VIDEOINFOHEADER);
    type->pbFormat = reinterpret_cast<BYTE*>(info);
    return type;
}

bool HasVideoInfo(const AM_MEDIA_TYPE& type) {
    return IsEqualGUID(type.formattype, FORMAT_VideoInfo) && type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER);
}

}  // namespace media
