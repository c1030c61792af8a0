// The media platform backed by GStreamer, initialised on first use.
#pragma once

#include "platform/media/media_platform.h"

namespace media {

IMediaPlatform& GstMediaPlatform();

}  // namespace media
