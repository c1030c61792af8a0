// Every size, rate and time-out of the room demo, with its unit, in one place.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace room {

// The picture every view receives: 160 x 120, BGR, bottom row first.
constexpr int kPictureWidth = 160;
constexpr int kPictureHeight = 120;
constexpr int kBytesPerPixel = 3;
constexpr int kPictureRowBytes = kPictureWidth * kBytesPerPixel;
constexpr size_t kPictureBytes = size_t{kPictureRowBytes} * kPictureHeight;

// Players and their ids: a room holds at most 16 users, the local one included.
constexpr int kMinPlayers = 2;
constexpr int kMaxPlayers = 16;
constexpr int kFirstUserId = 1;

// Every player runs on one machine: loopback is its local address.
constexpr uint32_t kLoopbackAddress = 0x7F000001;

// Synthetic cameras: larger than the engine's picture so the engine scales,
// at the rate the capture keeps (one frame per 66 ms).
constexpr int kCameraWidth = 320;
constexpr int kCameraHeight = 240;
constexpr int kCameraFramesPerSecond = 15;

// Engine thread: how long one pump waits before the inbox is drained again.
constexpr uint32_t kPumpSliceMs = 10;
// How often a directory lobby looks for new players' files.
constexpr auto kDirectoryLobbyPollInterval = std::chrono::milliseconds(200);
// At the end the cameras stop first and the frames still on their way are
// given this long to be drawn before the engines go down.
constexpr auto kDrainAfterCamerasStop = std::chrono::milliseconds(400);

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

// The address server child: how long it may take to start listening, and to
// stop before it is killed.
constexpr int kAddressServerStartTimeoutMs = 5000;
constexpr int kAddressServerStopTimeoutMs = 2000;

// Status lines while the room runs.
constexpr double kStatusPeriodSeconds = 1.0;

// The mosaic: tiles of one picture each, separated by a grey gap.
constexpr int kMosaicGapPixels = 4;
constexpr int kMosaicLabelPixels = 20;  // the band of player numbers left of and above the tiles
constexpr uint8_t kMosaicGapGrey = 96;

// Largest log text kept per call, in bytes.
constexpr size_t kLogTextBytes = 2048;

}  // namespace room
