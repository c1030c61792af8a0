// Value types of the media layer: identifiers, media types, the video
// information block, capability records and property values. The names
// follow the capture graph's vocabulary so the capture code reads as a
// walk through graph, grabber, device and stream-configuration objects.
#pragma once

#include <tavolin/tavolin.h>

#include <cstdint>
#include <cstring>

namespace media {

using BYTE = uint8_t;
using LONG = int32_t;
using DWORD = uint32_t;
using BOOL = int;
using LCID = uint32_t;
// 100-nanosecond units.
using REFERENCE_TIME = int64_t;

constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);

constexpr REFERENCE_TIME kReferenceTimePerSecond = 10000000;

// Classes the platform creates.
inline constexpr CLSID CLSID_CaptureGraphBuilder2 = {0x5e7a1001, 0x2c4d, 0x4b8e, {0x9a, 0x10, 0, 0, 0, 0, 0, 0x01}};
inline constexpr CLSID CLSID_FilterGraph = {0x5e7a1002, 0x2c4d, 0x4b8e, {0x9a, 0x10, 0, 0, 0, 0, 0, 0x02}};
inline constexpr CLSID CLSID_SampleGrabber = {0x5e7a1003, 0x2c4d, 0x4b8e, {0x9a, 0x10, 0, 0, 0, 0, 0, 0x03}};
inline constexpr CLSID CLSID_SystemDeviceEnum = {0x5e7a1004, 0x2c4d, 0x4b8e, {0x9a, 0x10, 0, 0, 0, 0, 0, 0x04}};
// The device category of cameras.
inline constexpr CLSID CLSID_VideoInputDeviceCategory = {0x5e7a1005, 0x2c4d, 0x4b8e, {0x9a, 0x10, 0, 0, 0, 0, 0, 0x05}};

// Pin category, major types, the one subtype the capture asks for, format type.
inline constexpr GUID PIN_CATEGORY_CAPTURE = {0x5e7a2001, 0x2c4d, 0x4b8e, {0x9a, 0x20, 0, 0, 0, 0, 0, 0x01}};
inline constexpr GUID MEDIATYPE_Video = {0x5e7a2002, 0x2c4d, 0x4b8e, {0x9a, 0x20, 0, 0, 0, 0, 0, 0x02}};
inline constexpr GUID MEDIATYPE_Interleaved = {0x5e7a2003, 0x2c4d, 0x4b8e, {0x9a, 0x20, 0, 0, 0, 0, 0, 0x03}};
inline constexpr GUID MEDIASUBTYPE_RGB24 = {0x5e7a2004, 0x2c4d, 0x4b8e, {0x9a, 0x20, 0, 0, 0, 0, 0, 0x04}};
inline constexpr GUID FORMAT_VideoInfo = {0x5e7a2005, 0x2c4d, 0x4b8e, {0x9a, 0x20, 0, 0, 0, 0, 0, 0x05}};

// Other uncompressed subtypes carry their four-character code in Data1.
inline GUID MediaSubtypeFromFourcc(uint32_t fourcc) {
    GUID subtype{};
    subtype.Data1 = fourcc;
    return subtype;
}

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct SIZE {
    LONG cx;
    LONG cy;
};

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    uint32_t lSampleSize;
    GUID formattype;
    ITavolinUnknown* pUnk;
    uint32_t cbFormat;
    BYTE* pbFormat;  // allocated with CoTaskMemAlloc
};

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};

// The per-capability record a stream configuration hands out with each
// capability's media type; callers check its size before trusting the list.
struct VIDEO_STREAM_CONFIG_CAPS {
    GUID guid;
    uint32_t VideoStandard;
    SIZE InputSize;
    SIZE MinCroppingSize;
    SIZE MaxCroppingSize;
    int CropGranularityX;
    int CropGranularityY;
    int CropAlignX;
    int CropAlignY;
    SIZE MinOutputSize;
    SIZE MaxOutputSize;
    int OutputGranularityX;
    int OutputGranularityY;
    int StretchTapsX;
    int StretchTapsY;
    int ShrinkTapsX;
    int ShrinkTapsY;
    int64_t MinFrameInterval;
    int64_t MaxFrameInterval;
    LONG MinBitsPerSecond;
    LONG MaxBitsPerSecond;
};
static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128);

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

// A property value. Strings are narrow on this platform: the bytes the
// device source gives, so no code-page narrowing happens after reading.
using VARTYPE = uint16_t;
constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_BSTR = 8;
struct VARIANT {
    VARTYPE vt;
    char* bstrVal;  // allocated with CoTaskMemAlloc; may be null
};
void VariantInit(VARIANT* value);
void VariantClear(VARIANT* value);

// A counted list of class ids, allocated with CoTaskMemAlloc.
struct CAUUID {
    uint32_t cElems;
    GUID* pElems;
};

void* CoTaskMemAlloc(size_t bytes);
void CoTaskMemFree(void* memory);
char* CoTaskMemStrDup(const char* text);

// Frees the format block and the object reference of a media type.
void FreeMediaType(AM_MEDIA_TYPE& type);
// FreeMediaType, then the media type itself (one the platform allocated).
void DeleteMediaType(AM_MEDIA_TYPE* type);
// A platform-allocated video media type with a zeroed VIDEOINFOHEADER block.
AM_MEDIA_TYPE* CreateVideoInfoMediaType(const GUID& subtype);
inline VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& type) {
    return reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
}
bool HasVideoInfo(const AM_MEDIA_TYPE& type);

// Bytes per row of a 24-bit picture: rows are padded to a multiple of 4.
constexpr int32_t Stride24(int32_t width) { return ((width * 24 + 31) >> 3) & ~3; }

}  // namespace media
