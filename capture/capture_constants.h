// Sizes, rates and limits of the capture engine, with their units.
#pragma once

#include "platform/media/media_types.h"

#include <cstddef>
#include <cstdint>

// The frame ring: four slots, each holding one frame of at most this many bytes.
constexpr int kRingSlots = 4;
constexpr size_t kFrameSlotBytes = 102400;

// Samples closer than this to the last accepted one are dropped (about 15 per second).
constexpr double kMinSampleSpacingSeconds = 0.066;

// The frame interval asked of a camera, in 100-ns units (25 frames per
// second); also the shortest interval taken from a capability list.
constexpr media::REFERENCE_TIME kRequestedFrameInterval = 400000;
// At most this many capabilities are read, each with a record of this size.
constexpr int kMaxCapabilities = 128;
constexpr int kCapabilityRecordBytes = sizeof(media::VIDEO_STREAM_CONFIG_CAPS);
// A capability is chosen only when its area is below this, in pixels.
constexpr int64_t kCapabilityAreaLimit = 4444444;

// Position of the property frame relative to its parent window, in pixels.
constexpr int kPropertyFrameX = 30;
constexpr int kPropertyFrameY = 30;

// A camera name is kept in at most this many bytes plus the terminating NUL.
constexpr size_t kDeviceNameMaxLength = 255;
