// What a sender's own preview showed: when each stamped frame was captured
// and its most recent pictures, so that viewers can measure latency, loss and
// picture quality against the source.
#pragma once

#include "testbed/measurement/picture_constants.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace room {

class SourceFrames {
public:
    // On one thread (the room's picture checker), for every picture of the
    // sender's local preview, in order.
    void OnPreview(const uint8_t* picture, double now);
    // The same thread, for a preview picture shown but not looked at.
    void OnMissed(double now);

    struct Match {
        double captureTime = 0;        // seconds on the room clock
        uint64_t captureIndex = 0;     // how many frames the sender had captured before this one
        std::optional<double> psnrDb;  // when the source picture is still kept
    };
    // On any viewer's thread: the captured frame with this stamp, compared with `shown`.
    std::optional<Match> Find(uint16_t number, const uint8_t* shown) const;
    // Whether the sender's preview showed a frame with this stamp recently.
    bool WasCaptured(uint16_t number) const;

    uint64_t CapturedCount() const { return captured_.load(std::memory_order_relaxed); }

    // After the sender's thread has ended.
    uint64_t UnstampedCount() const { return unstamped_; }
    double FirstTime() const { return firstTime_; }
    double LastTime() const { return lastTime_; }
    const std::vector<uint8_t>& LastPicture() const { return lastPicture_; }

private:
    struct CaptureTime {
        bool used = false;
        uint16_t number = 0;
        uint64_t index = 0;
        double time = 0;
    };
    struct SourcePicture {
        bool used = false;
        uint16_t number = 0;
        std::vector<uint8_t> bytes;
    };

    mutable std::mutex mutex_;
    // Indexed by stamp modulo the size; a slot answers only for its own stamp.
    std::array<CaptureTime, kRecentCaptureTimes> times_{};
    std::array<SourcePicture, kRecentSourcePictures> pictures_{};
    std::atomic<uint64_t> captured_{0};

    // Written and read on the sender's thread only (read by others after it ended).
    uint64_t unstamped_ = 0;
    double firstTime_ = 0;
    double lastTime_ = 0;
    std::vector<uint8_t> lastPicture_;
};

}  // namespace room
