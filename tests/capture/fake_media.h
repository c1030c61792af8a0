// An in-memory media platform for the capture tests. Each camera follows a
// script: what its property bag holds, which steps fail, which formats it
// accepts, its capability list, its dialogs and property pages. Frames are
// delivered by the test through Deliver, on whatever thread calls it.
#pragma once

#include "platform/media/media_devices.h"
#include "platform/media/media_platform.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace fake_media {

using media::REFERENCE_TIME;

struct Format {
    int width;
    int height;
    REFERENCE_TIME interval;

    bool operator==(const Format&) const = default;
};

enum class StreamConfigPin { kVideo, kInterleaved, kNone };

struct CameraScript {
    media::PropertyBag::Values properties;
    bool storageFails = false;
    bool bindFails = false;
    bool addFilterFails = false;
    bool connectFails = false;
    bool runFails = false;

    StreamConfigPin streamConfig = StreamConfigPin::kVideo;
    // The format the camera reports; nullopt: a format without video information.
    std::optional<Format> current = Format{320, 240, 333333};
    // SetFormat succeeds when this says so (null: every format is accepted).
    std::function<bool(const Format&)> accepts;
    // nullopt entries are capabilities whose media type cannot be read.
    std::vector<std::optional<Format>> capabilities;
    int capabilityRecordSize = 128;

    bool hasDriverDialogs = false;
    HRESULT hasDialogResult = S_OK;
    HRESULT showDialogResult = S_OK;
    bool hasPropertyPages = false;
    int propertyPageCount = 1;

    // A camera named by its friendly name only.
    static CameraScript Named(const std::string& name);
};

struct PropertyFrameCall {
    HWND parent;
    int x;
    int y;
    std::string caption;
    ULONG objectCount;
    ITavolinUnknown* object;
    ULONG pageCount;
    media::LCID locale;
};

// Installs itself as the media platform for its lifetime. Scripts must be
// complete before the capture engine creates its graph.
class FakeMediaPlatform : public media::IMediaPlatform {
public:
    FakeMediaPlatform();
    ~FakeMediaPlatform();

    HRESULT CreateInstance(const CLSID& classId, const IID& iid, void** out) override;
    HRESULT CreatePropertyFrame(HWND parent, int x, int y, const char* caption, ULONG objectCount,
                                ITavolinUnknown** objects, ULONG pageCount, const CLSID* pages,
                                media::LCID locale) override;

    std::vector<CameraScript> cameras;
    bool failGraphBuilder = false;
    bool failFilterGraph = false;
    bool failSampleGrabber = false;
    bool failDeviceEnum = false;
    HRESULT propertyFrameResult = S_OK;

    // Hands a frame to the running graph's grabber callback; false when no
    // graph runs. Stop waits for a delivery in progress.
    bool Deliver(double sampleTime, const uint8_t* data, long length);

    // What the capture engine did.
    std::vector<Format> setFormatCalls;
    std::vector<PropertyFrameCall> propertyFrames;
    std::vector<int> shownDialogs;
    int runCalls = 0;
    int stopCalls = 0;
    // Media objects alive right now: zero once everything was released.
    int LiveObjects() const;

    // Internal: the fake objects report here.
    struct Graph;
    void ObjectCreated();
    void ObjectDestroyed();
    void SetRunning(Graph* graph, bool running);

private:
    mutable std::mutex m_lock;
    int m_liveObjects = 0;
    std::mutex m_deliveryLock;
    Graph* m_running = nullptr;
};

}  // namespace fake_media
