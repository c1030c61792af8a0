#include "testbed/measurement/pair_record.h"

#include "testbed/measurement/frame_stamp.h"

namespace room {
namespace {
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr double kMedian = 0.5;
constexpr double kP99 = 0.99;

std::optional<double> InMilliseconds(std::optional<double> seconds) {
    if (!seconds) return std::nullopt;
    return *seconds * kMillisecondsPerSecond;
}
}  // namespace

void PairRecord::OnPicture(const uint8_t* picture, double now, const SourceFrames* source) {
    const uint64_t drawn = drawn_.load(std::memory_order_relaxed);
    if (drawn == 0) firstTime_ = now;
    if (drawn > 0) stills_.Add(now - lastTime_);
    lastTime_ = now;
    DrawSample sample;
    sample.time = now;
    sample.number = ReadFrameStamp(picture);
    if (sample.number) {
        ++stamped_;
        if (source) {
            if (const auto match = source->Find(*sample.number, picture)) {
                sample.latency = now - match->captureTime;
                sample.psnrDb = match->psnrDb;
                latencies_.Add(*sample.latency);
                psnrsDb_.Add(*sample.psnrDb);
                if (!firstCaptureIndex_) {
                    firstCaptureIndex_ = match->captureIndex;
                    drawnBeforeFirstMatch_ = drawn;
                }
            }
        }
        CountMissing(*sample.number, source);
    }
    if (samples_.size() < kKeptDrawSamples) samples_.push_back(sample);
    lastPicture_.assign(picture, picture + kPictureBytes);
    drawn_.fetch_add(1, std::memory_order_relaxed);
}

void PairRecord::OnMissed(double now) {
    if (drawn_.load(std::memory_order_relaxed) == 0) firstTime_ = now;
    if (drawn_.load(std::memory_order_relaxed) > 0) stills_.Add(now - lastTime_);
    lastTime_ = now;
    lastNumber_.reset();
    DrawSample sample;
    sample.time = now;
    if (samples_.size() < kKeptDrawSamples) samples_.push_back(sample);
    drawn_.fetch_add(1, std::memory_order_relaxed);
}

// Frames between the last stamp and this one that the sender did capture (any
// number in the gap when the sender is not in this process). Stamps that go
// backwards are repeats or misreadings and change nothing.
void PairRecord::CountMissing(uint16_t number, const SourceFrames* source) {
    if (lastNumber_) {
        const int16_t step = static_cast<int16_t>(static_cast<uint16_t>(number - *lastNumber_));
        if (step <= 0) return;
        for (uint16_t missing = static_cast<uint16_t>(*lastNumber_ + 1); missing != number; ++missing)
            if (!source || source->WasCaptured(missing)) ++lost_;
    }
    lastNumber_ = number;
}

PairSummary PairRecord::Summarize(int viewer, int sender, const SourceFrames* source) const {
    PairSummary summary;
    summary.viewer = viewer;
    summary.sender = sender;
    summary.frames = Drawn();
    summary.stamped = stamped_;
    summary.lost = lost_;
    if (summary.frames > 1 && lastTime_ > firstTime_)
        summary.framesPerSecond = static_cast<double>(summary.frames - 1) / (lastTime_ - firstTime_);
    summary.stillP99Ms = InMilliseconds(stills_.At(kP99));
    summary.stillMaxMs = InMilliseconds(stills_.Greatest());
    summary.latencyMedianMs = InMilliseconds(latencies_.At(kMedian));
    summary.latencyP99Ms = InMilliseconds(latencies_.At(kP99));
    summary.psnrMedianDb = psnrsDb_.At(kMedian);
    summary.psnrMinDb = psnrsDb_.Least();
    if (source && firstCaptureIndex_ && source->CapturedCount() > *firstCaptureIndex_) {
        summary.sentSinceFirstShown = source->CapturedCount() - *firstCaptureIndex_;
        const auto shown = static_cast<double>(summary.frames - drawnBeforeFirstMatch_);
        summary.shownShare = shown / static_cast<double>(*summary.sentSinceFirstShown);
    }
    return summary;
}

}  // namespace room
