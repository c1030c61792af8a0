// Raw video formats as GStreamer caps and as media types.
#pragma once

#include "platform/media/media_types.h"

#include <gst/gst.h>
#include <gst/video/video.h>

#include <optional>
#include <vector>

namespace media {

struct VideoFormat {
    GstVideoFormat format;
    int width;
    int height;
    int fpsNumerator;  // 0 when the rate is unknown
    int fpsDenominator;

    REFERENCE_TIME Interval() const;
};

// "video/x-raw" of any format; compressed formats would need decoders the
// graph does not insert.
GstCaps* NewRawVideoCaps();
// The format GStreamer would settle on: the first structure, fixated.
std::optional<VideoFormat> FixateVideoFormat(const GstCaps* caps);
// One fixated format per structure, in order.
std::vector<VideoFormat> ListVideoFormats(const GstCaps* caps);
// Null when out of memory.
AM_MEDIA_TYPE* MediaTypeFromVideoFormat(const VideoFormat& format);

}  // namespace media
