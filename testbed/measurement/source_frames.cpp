#include "testbed/measurement/source_frames.h"

#include "testbed/measurement/frame_stamp.h"

namespace room {

void SourceFrames::OnPreview(const uint8_t* picture, double now) {
    const uint64_t index = captured_.load(std::memory_order_relaxed);
    if (index == 0) firstTime_ = now;
    lastTime_ = now;
    lastPicture_.assign(picture, picture + kPictureBytes);
    const std::optional<uint16_t> number = ReadFrameStamp(picture);
    if (!number) {
        ++unstamped_;
    } else {
        std::lock_guard lock(mutex_);
        times_[*number % times_.size()] = CaptureTime{true, *number, index, now};
        SourcePicture& kept = pictures_[*number % pictures_.size()];
        kept.used = true;
        kept.number = *number;
        kept.bytes.assign(picture, picture + kPictureBytes);
    }
    captured_.fetch_add(1, std::memory_order_relaxed);
}

void SourceFrames::OnMissed(double now) {
    if (captured_.load(std::memory_order_relaxed) == 0) firstTime_ = now;
    lastTime_ = now;
    captured_.fetch_add(1, std::memory_order_relaxed);
}

std::optional<SourceFrames::Match> SourceFrames::Find(uint16_t number, const uint8_t* shown) const {
    std::lock_guard lock(mutex_);
    const CaptureTime& time = times_[number % times_.size()];
    if (!time.used || time.number != number) return std::nullopt;
    Match match{time.time, time.index, std::nullopt};
    const SourcePicture& source = pictures_[number % pictures_.size()];
    if (source.used && source.number == number)
        match.psnrDb = PeakSignalToNoiseDb(shown, source.bytes.data(), kPictureBytes);
    return match;
}

bool SourceFrames::WasCaptured(uint16_t number) const {
    std::lock_guard lock(mutex_);
    const CaptureTime& time = times_[number % times_.size()];
    return time.used && time.number == number;
}

}  // namespace room
