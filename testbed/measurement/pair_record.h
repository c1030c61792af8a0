// Everything one viewer saw of one sender: counts, the distributions of
// latency, quality and the time between pictures, a sample of each of the
// first pictures drawn, the frames that went missing between stamps, and
// the last picture shown. Its memory does not grow with the room's length.
#pragma once

#include "testbed/measurement/source_frames.h"
#include "testbed/measurement/statistics.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

namespace room {

struct DrawSample {
    double time = 0;                 // seconds on the room clock
    std::optional<uint16_t> number;  // the picture's stamp, when readable
    std::optional<double> latency;   // seconds since the sender's preview showed it
    std::optional<double> psnrDb;    // against the sender's picture of that number
};

struct PairSummary {
    int viewer = 0;
    int sender = 0;
    uint64_t frames = 0;
    uint64_t stamped = 0;
    double framesPerSecond = 0;
    uint64_t lost = 0;
    std::optional<double> latencyMedianMs;
    std::optional<double> latencyP99Ms;
    std::optional<double> psnrMedianDb;
    std::optional<double> psnrMinDb;
    // How long the view stood still: time between successive pictures.
    std::optional<double> stillP99Ms;
    std::optional<double> stillMaxMs;
    // Frames the sender captured from the first one this viewer showed to the
    // end, and the share of them shown; only with the sender in this process.
    std::optional<uint64_t> sentSinceFirstShown;
    std::optional<double> shownShare;
};

class PairRecord {
public:
    // On one thread (the room's picture checker), for every picture drawn for
    // this sender, in order. `source` is the sender's preview record, or null
    // when the sender runs in another process.
    void OnPicture(const uint8_t* picture, double now, const SourceFrames* source);
    // The same thread, for a picture drawn but not looked at: it counts as
    // drawn at `now`, and the frames between the stamps around it do not
    // count as lost.
    void OnMissed(double now);

    // Safe from any thread while the room runs.
    uint64_t Drawn() const { return drawn_.load(std::memory_order_relaxed); }

    // After the viewer's thread has ended.
    PairSummary Summarize(int viewer, int sender, const SourceFrames* source) const;
    // The first kKeptDrawSamples pictures drawn.
    const std::vector<DrawSample>& Samples() const { return samples_; }
    const std::vector<uint8_t>& LastPicture() const { return lastPicture_; }

private:
    void CountMissing(uint16_t number, const SourceFrames* source);

    std::atomic<uint64_t> drawn_{0};
    std::vector<DrawSample> samples_;
    Distribution latencies_;  // seconds
    Distribution psnrsDb_;
    Distribution stills_;  // seconds from one picture drawn to the next
    std::vector<uint8_t> lastPicture_;
    double firstTime_ = 0;
    double lastTime_ = 0;
    uint64_t stamped_ = 0;
    std::optional<uint16_t> lastNumber_;
    // The first picture matched with the sender's preview: its capture index,
    // and how many pictures had been drawn before it.
    std::optional<uint64_t> firstCaptureIndex_;
    uint64_t drawnBeforeFirstMatch_ = 0;
    uint64_t lost_ = 0;
};

}  // namespace room
