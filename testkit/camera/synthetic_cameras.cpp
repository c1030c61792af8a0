#include "testkit/camera/synthetic_cameras.h"

#include "platform/media/gst/gst_device_enum.h"
#include "platform/media/gst/streaming_handoff.h"

#include <tavolin/tavolin.h>

#include <gst/video/video.h>

#include <algorithm>
#include <cstdint>
#include <mutex>

namespace media {

namespace {

constexpr int kLastPattern = 24;
constexpr int kMaxSide = 4096;  // pixels
constexpr int kMaxFps = 120;
// Pixels the picture scrolls per frame, so that every pattern moves.
constexpr int kScrollPixelsPerFrame = 2;
// The frame-number stamp: 16 blocks across the top eighth of the picture.
constexpr int kStampBits = 16;
constexpr int kStampBandDivisor = 8;
constexpr guint8 kLumaWhite = 255;
constexpr guint8 kLumaBlack = 0;
constexpr guint8 kChromaNeutral = 128;

std::mutex g_camerasLock;
std::vector<SyntheticCamera> g_cameras;

bool IsValid(const char* name, int pattern, int width, int height, int fps, int flags) {
    return name && *name && pattern >= 0 && pattern <= kLastPattern && width > 0 && width <= kMaxSide && height > 0 &&
           height <= kMaxSide && fps > 0 && fps <= kMaxFps && (flags & ~TAVOLIN_CAMERA_STAMP_FRAME_NUMBER) == 0;
}

// Streaming-thread state of one stamped source: the frame number counts
// from 0 at every start of the stream.
struct FrameStamp {
    GstVideoInfo info;
    uint32_t frameNumber = 0;
};

void FillRect(GstVideoFrame* frame, int component, int columns, int rows, int firstColumn, guint8 value) {
    guint8* data = static_cast<guint8*>(GST_VIDEO_FRAME_COMP_DATA(frame, component));
    const int stride = GST_VIDEO_FRAME_COMP_STRIDE(frame, component);
    for (int row = 0; row < rows; ++row) std::fill_n(data + row * stride + firstColumn, columns, value);
}

void StampFrameNumber(GstVideoFrame* frame, uint32_t number) {
    const int width = GST_VIDEO_FRAME_WIDTH(frame);
    const int bandRows = GST_VIDEO_FRAME_HEIGHT(frame) / kStampBandDivisor;
    for (int bit = 0; bit < kStampBits; ++bit) {
        const int left = bit * width / kStampBits;
        const int right = (bit + 1) * width / kStampBits;
        const bool set = (number >> (kStampBits - 1 - bit)) & 1;
        FillRect(frame, GST_VIDEO_COMP_Y, right - left, bandRows, left, set ? kLumaWhite : kLumaBlack);
    }
    // Neutral colour over the band (rounded up to whole chroma rows) so that
    // the blocks are pure black and white.
    const int height = GST_VIDEO_FRAME_HEIGHT(frame);
    for (int component : {GST_VIDEO_COMP_U, GST_VIDEO_COMP_V}) {
        const int chromaRows = (GST_VIDEO_FRAME_COMP_HEIGHT(frame, component) * bandRows + height - 1) / height;
        FillRect(frame, component, GST_VIDEO_FRAME_COMP_WIDTH(frame, component), chromaRows, 0, kChromaNeutral);
    }
}

GstPadProbeReturn OnStampProbe(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* stamp = static_cast<FrameStamp*>(data);
    TakeOver(stamp);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_STREAM_START) stamp->frameNumber = 0;
        HandOver(stamp);
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstVideoFrame frame;
    if (gst_video_frame_map(&frame, &stamp->info, buffer, GST_MAP_WRITE)) {
        StampFrameNumber(&frame, stamp->frameNumber);
        gst_video_frame_unmap(&frame);
    }
    ++stamp->frameNumber;
    HandOver(stamp);
    return GST_PAD_PROBE_OK;
}

void DeleteStamp(gpointer data) {
    TakeOver(data);
    delete static_cast<FrameStamp*>(data);
}

// How the camera enumeration finds these cameras after the monitored ones.
std::vector<ExtraCamera> ExtraCameras() {
    std::vector<ExtraCamera> cameras;
    for (const SyntheticCamera& camera : SyntheticCameras())
        cameras.push_back({camera.name, [camera] { return CreateSyntheticSource(camera); }});
    return cameras;
}

}  // namespace

std::vector<SyntheticCamera> SyntheticCameras() {
    std::lock_guard lock(g_camerasLock);
    return g_cameras;
}

GstElement* CreateSyntheticSource(const SyntheticCamera& camera) {
    GstElement* bin = gst_bin_new(nullptr);
    GstElement* pattern = gst_element_factory_make("videotestsrc", nullptr);
    GstElement* shape = gst_element_factory_make("capsfilter", nullptr);
    if (!bin || !pattern || !shape) {
        for (GstElement* element : {bin, pattern, shape}) {
            if (element) gst_object_unref(gst_object_ref_sink(element));
        }
        return nullptr;
    }
    g_object_set(pattern, "is-live", TRUE, "pattern", camera.pattern, "horizontal-speed", kScrollPixelsPerFrame,
                 nullptr);
    GstCaps* caps =
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, camera.width, "height",
                            G_TYPE_INT, camera.height, "framerate", GST_TYPE_FRACTION, camera.fps, 1, nullptr);
    g_object_set(shape, "caps", caps, nullptr);
    gst_bin_add_many(GST_BIN(bin), pattern, shape, nullptr);
    gst_element_link(pattern, shape);
    GstPad* output = gst_element_get_static_pad(shape, "src");
    if (camera.flags & TAVOLIN_CAMERA_STAMP_FRAME_NUMBER) {
        auto* stamp = new FrameStamp;
        gst_video_info_from_caps(&stamp->info, caps);
        HandOver(stamp);
        gst_pad_add_probe(output,
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          OnStampProbe, stamp, DeleteStamp);
    }
    gst_caps_unref(caps);
    gst_element_add_pad(bin, gst_ghost_pad_new("src", output));
    gst_object_unref(output);
    return bin;
}

}  // namespace media

extern "C" __attribute__((visibility("default"))) int TavolinAddSyntheticCamera(const char* name, int pattern,
                                                                                int width, int height, int fps,
                                                                                int flags) {
    if (!media::IsValid(name, pattern, width, height, fps, flags)) return 0;
    media::SetExtraCameras(&media::ExtraCameras);
    std::lock_guard lock(media::g_camerasLock);
    for (const auto& camera : media::g_cameras) {
        if (camera.name == name) return 0;
    }
    media::g_cameras.push_back({name, pattern, width, height, fps, flags});
    return 1;
}

extern "C" __attribute__((visibility("default"))) void TavolinRemoveSyntheticCameras(void) {
    std::lock_guard lock(media::g_camerasLock);
    media::g_cameras.clear();
}
