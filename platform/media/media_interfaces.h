// The operations the capture engine needs from the platform's media
// framework: filter graph and its control, capture graph builder, sample
// grabber with its callback, device enumeration with property bags, stream
// configuration, driver dialogs and property pages. Every object is
// reference-counted and answers QueryInterface for the interfaces it has.
#pragma once

#include "platform/media/media_types.h"

namespace media {

#define MEDIA_IID(n) static constexpr IID iid = {0x5e7a3000 + (n), 0x2c4d, 0x4b8e, {0x9a, 0x30, 0, 0, 0, 0, 0, (n)}}

struct IPin : ITavolinUnknown {
    MEDIA_IID(1);
    virtual HRESULT QueryDirection(PIN_DIRECTION* direction) = 0;
};

struct IEnumPins : ITavolinUnknown {
    MEDIA_IID(2);
    // Hands out referenced pins in order; S_FALSE when fewer than asked remain.
    virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
};

struct IBaseFilter : ITavolinUnknown {
    MEDIA_IID(3);
    virtual HRESULT EnumPins(IEnumPins** pins) = 0;
};

struct IGraphBuilder : ITavolinUnknown {
    MEDIA_IID(4);
    virtual HRESULT AddFilter(IBaseFilter* filter, const char* name) = 0;
    // Connects an output pin to an input pin, inserting converters where
    // the formats differ.
    virtual HRESULT Connect(IPin* output, IPin* input) = 0;
};

struct IMediaControl : ITavolinUnknown {
    MEDIA_IID(5);
    virtual HRESULT Run() = 0;
    // Both stops return only when no sample callback is running or will run.
    virtual HRESULT Stop() = 0;
    virtual HRESULT StopWhenReady() = 0;
};

struct ICaptureGraphBuilder2 : ITavolinUnknown {
    MEDIA_IID(6);
    // Binds the builder to a graph; null unbinds it.
    virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
    // Looks up an interface on the filter's pin of the given category and type.
    virtual HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, const IID& iid,
                                  void** out) = 0;
};

struct IMediaSample;

struct ISampleGrabberCB : ITavolinUnknown {
    MEDIA_IID(7);
    virtual HRESULT SampleCB(double sampleTime, IMediaSample* sample) = 0;
    // One sample's bytes: 24-bit blue-green-red, rows bottom-up, each row
    // padded to 4 bytes; sampleTime is the stream time in seconds.
    virtual HRESULT BufferCB(double sampleTime, BYTE* buffer, LONG length) = 0;
};

// Callback mode of ISampleGrabber::SetCallback: BufferCB with the sample's bytes.
constexpr LONG kGrabberCallsBufferCB = 1;

struct ISampleGrabber : ITavolinUnknown {
    MEDIA_IID(8);
    virtual HRESULT SetOneShot(BOOL oneShot) = 0;
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type) = 0;
    // Fills the caller's media type; free it with FreeMediaType.
    virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT SetBufferSamples(BOOL buffer) = 0;
    virtual HRESULT SetCallback(ISampleGrabberCB* callback, LONG mode) = 0;
};

struct IPropertyBag : ITavolinUnknown {
    MEDIA_IID(9);
    virtual HRESULT Read(const char* name, VARIANT* value) = 0;
};

struct IMoniker : ITavolinUnknown {
    MEDIA_IID(10);
    virtual HRESULT BindToStorage(const IID& iid, void** out) = 0;
    virtual HRESULT BindToObject(const IID& iid, void** out) = 0;
};

struct IEnumMoniker : ITavolinUnknown {
    MEDIA_IID(11);
    virtual HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
    virtual HRESULT Reset() = 0;
};

struct ICreateDevEnum : ITavolinUnknown {
    MEDIA_IID(12);
    // S_FALSE and no enumerator when the category has no device.
    virtual HRESULT CreateClassEnumerator(const CLSID& category, IEnumMoniker** out, DWORD flags) = 0;
};

struct IAMStreamConfig : ITavolinUnknown {
    MEDIA_IID(13);
    virtual HRESULT SetFormat(AM_MEDIA_TYPE* type) = 0;
    // A platform-allocated media type; free it with DeleteMediaType.
    virtual HRESULT GetFormat(AM_MEDIA_TYPE** type) = 0;
    virtual HRESULT GetNumberOfCapabilities(int* count, int* recordSize) = 0;
    virtual HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* record) = 0;
};

struct IAMVfwCaptureDialogs : ITavolinUnknown {
    MEDIA_IID(14);
    virtual HRESULT HasDialog(int dialog) = 0;
    // Modal: returns when the user closes the dialog.
    virtual HRESULT ShowDialog(int dialog, HWND parent) = 0;
};

struct ISpecifyPropertyPages : ITavolinUnknown {
    MEDIA_IID(15);
    virtual HRESULT GetPages(CAUUID* pages) = 0;
};

#undef MEDIA_IID

inline constexpr const IID& IID_IPin = IPin::iid;
inline constexpr const IID& IID_IBaseFilter = IBaseFilter::iid;
inline constexpr const IID& IID_IGraphBuilder = IGraphBuilder::iid;
inline constexpr const IID& IID_IMediaControl = IMediaControl::iid;
inline constexpr const IID& IID_ICaptureGraphBuilder2 = ICaptureGraphBuilder2::iid;
inline constexpr const IID& IID_ISampleGrabber = ISampleGrabber::iid;
inline constexpr const IID& IID_IPropertyBag = IPropertyBag::iid;
inline constexpr const IID& IID_ICreateDevEnum = ICreateDevEnum::iid;
inline constexpr const IID& IID_IAMStreamConfig = IAMStreamConfig::iid;
inline constexpr const IID& IID_IAMVfwCaptureDialogs = IAMVfwCaptureDialogs::iid;
inline constexpr const IID& IID_ISpecifyPropertyPages = ISpecifyPropertyPages::iid;

// Dialog indices of IAMVfwCaptureDialogs.
enum VfwCaptureDialogs { VfwCaptureDialog_Source = 1, VfwCaptureDialog_Format = 2, VfwCaptureDialog_Display = 4 };

}  // namespace media
