// Every size, rate and time-out of the room's players, with its unit, in one
// place.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace room {

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

// Largest log text kept per call, in bytes.
constexpr size_t kLogTextBytes = 2048;

}  // namespace room
