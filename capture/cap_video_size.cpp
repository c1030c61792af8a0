// The camera's frame size: asked for before the grabber is connected, and
// derived again from the buffer length when the camera changes it while running.
#include "capture/cap_zephra.h"

#include "platform/media/media_object.h"

#include <algorithm>
#include <optional>
#include <vector>

using namespace media;

namespace {

struct Capability {
    int32_t width;
    int32_t height;
    REFERENCE_TIME interval;
};

// Sizes a changed buffer length is first looked up among, by stride x height.
constexpr SIZE kKnownFrameSizes[] = {
    {128, 96},   {160, 120},  {176, 144},  {320, 240},  {352, 288},  {640, 480},   {800, 600},
    {1024, 768}, {1280, 800}, {1366, 768}, {1280, 960}, {1400, 900}, {1280, 1024}, {1920, 1080},
};

int64_t FrameBytes(int32_t width, int32_t height) { return static_cast<int64_t>(Stride24(width)) * height; }

// The number of capabilities worth reading, 0 when the list is unusable.
int UsableCapabilityCount(IAMStreamConfig* config) {
    int count = 0;
    int recordSize = 0;
    if (FAILED(config->GetNumberOfCapabilities(&count, &recordSize)) || count < 1 ||
        recordSize != kCapabilityRecordBytes) {
        return 0;
    }
    return std::min(count, kMaxCapabilities);
}

// Capability i as width, height and interval; all zero when unreadable.
Capability ReadCapability(IAMStreamConfig* config, int index) {
    Capability capability{};
    AM_MEDIA_TYPE* type = nullptr;
    VIDEO_STREAM_CONFIG_CAPS record;
    if (FAILED(config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&record))) || !type) return capability;
    if (HasVideoInfo(*type)) {
        const VIDEOINFOHEADER* video = VideoInfoOf(*type);
        capability = {video->bmiHeader.biWidth, video->bmiHeader.biHeight, video->AvgTimePerFrame};
    }
    DeleteMediaType(type);
    return capability;
}

// The smallest capability of the requested aspect ratio below the area
// limit; on equal areas the lower index wins.
std::optional<Capability> ChooseCapability(const std::vector<Capability>& capabilities, int width, int height) {
    std::optional<Capability> chosen;
    for (const Capability& candidate : capabilities) {
        const int64_t area = static_cast<int64_t>(candidate.width) * candidate.height;
        const bool sameShape =
            static_cast<int64_t>(candidate.width) * height == static_cast<int64_t>(candidate.height) * width;
        if (candidate.width <= 0 || !sameShape || area >= kCapabilityAreaLimit) continue;
        if (!chosen || area < static_cast<int64_t>(chosen->width) * chosen->height) chosen = candidate;
    }
    return chosen;
}

}  // namespace

IAMStreamConfig* CCapZephra::FindStreamConfig(HRESULT* result) {
    IAMStreamConfig* config = nullptr;
    auto** out = reinterpret_cast<void**>(&config);
    *result =
        m_pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, m_pCapFilter, IID_IAMStreamConfig, out);
    if (FAILED(*result)) {
        *result = m_pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, m_pCapFilter,
                                            IID_IAMStreamConfig, out);
    }
    return config;
}

HRESULT CCapZephra::InitVideoSize(int width, int height) {
    if (!m_pBuilder) return E_FAIL;
    HRESULT result;
    ComPtr<IAMStreamConfig> config(FindStreamConfig(&result));
    if (!config) return result;

    AM_MEDIA_TYPE* type = nullptr;
    result = config->GetFormat(&type);
    if (FAILED(result)) return result;
    if (!type) return E_POINTER;
    // A camera that does not describe its format keeps it.
    if (!HasVideoInfo(*type)) {
        DeleteMediaType(type);
        return S_OK;
    }
    VIDEOINFOHEADER* video = VideoInfoOf(*type);
    video->rcSource = video->rcTarget = RECT{0, 0, width, height};
    video->bmiHeader.biWidth = width;
    video->bmiHeader.biHeight = height;
    video->bmiHeader.biSizeImage = static_cast<uint32_t>(width * height * 3);
    video->AvgTimePerFrame = kRequestedFrameInterval;
    const HRESULT requested = config->SetFormat(type);
    if (SUCCEEDED(requested)) {
        DeleteMediaType(type);
        return S_OK;
    }

    // Refused: take the closest size of the same shape the camera lists.
    const int count = UsableCapabilityCount(config.Get());
    std::vector<Capability> capabilities;
    for (int index = 0; index < count; ++index) capabilities.push_back(ReadCapability(config.Get(), index));
    if (const auto chosen = ChooseCapability(capabilities, width, height)) {
        video->bmiHeader.biWidth = chosen->width;
        video->bmiHeader.biHeight = chosen->height;
        video->AvgTimePerFrame = std::max(chosen->interval, kRequestedFrameInterval);
        config->SetFormat(type);
    }
    DeleteMediaType(type);
    return requested;
}

int CCapZephra::AdaptToBufferSize(int length) {
    std::optional<SIZE> size;
    for (const SIZE& known : kKnownFrameSizes) {
        if (FrameBytes(known.cx, known.cy) == length) {
            size = known;
            break;
        }
    }
    if (!size && m_pBuilder) {
        HRESULT result;
        ComPtr<IAMStreamConfig> config(FindStreamConfig(&result));
        const int count = config ? UsableCapabilityCount(config.Get()) : 0;
        for (int index = 0; index < count && !size; ++index) {
            const Capability capability = ReadCapability(config.Get(), index);
            if (capability.width > 0 && FrameBytes(capability.width, capability.height) == length) {
                size = SIZE{capability.width, capability.height};
            }
        }
    }
    if (!size) return 0;

    const int32_t stride = Stride24(size->cx);
    m_Src = {nullptr, stride, size->cx, size->cy};
    m_bmih.biWidth = size->cx;
    m_bmih.biHeight = size->cy;
    m_bmih.biSizeImage = static_cast<uint32_t>(stride * size->cy);
    m_bScale = (size->cx == m_nReqWidth && size->cy == m_nReqHeight) ? 0 : 1;
    m_nExpectedLen = stride * size->cy;
    return 1;
}
