#include "platform/media/gst/gst_video_format.h"

namespace media {

namespace {

std::optional<VideoFormat> VideoFormatOfStructure(const GstStructure* structure) {
    GstCaps* single = gst_caps_new_full(gst_structure_copy(structure), nullptr);
    single = gst_caps_fixate(single);
    GstVideoInfo info;
    const bool parsed = gst_video_info_from_caps(&info, single);
    gst_caps_unref(single);
    if (!parsed) return std::nullopt;
    return VideoFormat{GST_VIDEO_INFO_FORMAT(&info), GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info),
                       GST_VIDEO_INFO_FPS_N(&info), GST_VIDEO_INFO_FPS_D(&info)};
}

}  // namespace

REFERENCE_TIME VideoFormat::Interval() const {
    if (fpsNumerator <= 0) return 0;
    return kReferenceTimePerSecond * fpsDenominator / fpsNumerator;
}

GstCaps* NewRawVideoCaps() { return gst_caps_new_empty_simple("video/x-raw"); }

std::optional<VideoFormat> FixateVideoFormat(const GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return std::nullopt;
    return VideoFormatOfStructure(gst_caps_get_structure(caps, 0));
}

std::vector<VideoFormat> ListVideoFormats(const GstCaps* caps) {
    std::vector<VideoFormat> formats;
    if (!caps || gst_caps_is_any(caps)) return formats;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        if (auto format = VideoFormatOfStructure(gst_caps_get_structure(caps, i))) formats.push_back(*format);
    }
    return formats;
}

AM_MEDIA_TYPE* MediaTypeFromVideoFormat(const VideoFormat& format) {
    const bool rgb24 = format.format == GST_VIDEO_FORMAT_BGR;
    const uint32_t fourcc = gst_video_format_to_fourcc(format.format);
    AM_MEDIA_TYPE* type = CreateVideoInfoMediaType(rgb24 ? MEDIASUBTYPE_RGB24 : MediaSubtypeFromFourcc(fourcc));
    if (!type) return nullptr;
    GstVideoInfo info;
    gst_video_info_set_format(&info, format.format, format.width, format.height);
    const auto pixels = static_cast<uint64_t>(format.width) * format.height;
    VIDEOINFOHEADER* video = VideoInfoOf(*type);
    video->AvgTimePerFrame = format.Interval();
    video->bmiHeader.biWidth = format.width;
    video->bmiHeader.biHeight = format.height;
    video->bmiHeader.biBitCount = static_cast<uint16_t>(pixels ? GST_VIDEO_INFO_SIZE(&info) * 8 / pixels : 0);
    video->bmiHeader.biCompression = rgb24 ? BI_RGB : fourcc;
    video->bmiHeader.biSizeImage = static_cast<uint32_t>(GST_VIDEO_INFO_SIZE(&info));
    type->lSampleSize = video->bmiHeader.biSizeImage;
    return type;
}

}  // namespace media
