// The recent loudness of one voice, written by the sound thread and read by
// the engine thread's level poll.
//
// GetLevel(user, scale) answers round(scale x (dB + 60) / 60), clamped to
// 0..scale, where dB is the loudest 30 ms RMS of the last 120 ms relative to
// full scale: -60 dBFS and below read 0, full scale reads `scale`. The engine
// asks with scale 9, a ten-step meter.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace voice {

inline constexpr int kLevelFloorDb = -60;
inline constexpr int kLevelFrames = 4;  // 120 ms of 30 ms frames

class LevelMeter {
public:
    LevelMeter();
    // One frame of sound, or nothing (silence) with count 0.
    void Add(const int16_t* samples, int count);
    int Level(int scale) const;

private:
    // RMS in hundredths of a dB relative to full scale, per recent frame.
    std::array<std::atomic<int>, kLevelFrames> centiDb_{};
    std::atomic<unsigned> next_{0};
};

// A frame's RMS relative to full scale, in dB; kSilenceDbfs for digital silence.
inline constexpr double kSilenceDbfs = -100.0;
double FrameLevelDbfs(const int16_t* samples, int count);

// Sums voices into out with saturation at the 16-bit limits.
void MixSaturating(const int32_t* sum, int16_t* out, int count);

}  // namespace voice
