// The picture every view receives, and how much of the pictures shown the
// measurements keep, with their units, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace room {

// The picture every view receives: 160 x 120, BGR, bottom row first.
constexpr int kPictureWidth = 160;
constexpr int kPictureHeight = 120;
constexpr int kBytesPerPixel = 3;
constexpr int kPictureRowBytes = kPictureWidth * kBytesPerPixel;
constexpr size_t kPictureBytes = size_t{kPictureRowBytes} * kPictureHeight;

// What the demo remembers of each sender's own preview.
constexpr size_t kRecentCaptureTimes = 1024;  // frames (68 s at 15 fps)
constexpr size_t kRecentSourcePictures = 64;  // frames (4 s at 15 fps)

// Shown pictures waiting for the demo's checks: about 130 ms of a
// sixteen-player room (3,840 pictures a second), 30 MB.
constexpr size_t kPictureCheckBuffers = 512;
constexpr int kPictureCheckNice = 19;

// Pictures per viewer and sender kept one by one, to look at how a view
// started (68 s at 15 frames per second); the report's figures count all.
constexpr size_t kKeptDrawSamples = 1024;

// PSNR of identical pictures is infinite; report this instead.
constexpr double kPsnrOfIdenticalPicturesDb = 99.0;

}  // namespace room
