#include "testbed/measurement/heard_sound.h"

#include <algorithm>
#include <cassert>

namespace room {
namespace {
constexpr int64_t kMicrosPerSecond = 1000000;
constexpr int64_t kMicrosPerMillisecond = 1000;
constexpr int64_t kSamplesPerMillisecond = voice::kRecordingRateHz / 1000;
}  // namespace

HeardSound::HeardSound(const std::vector<MarkedSpeaker>& speakers, size_t beginningSamples)
    : beginningSamples_(beginningSamples) {
    beginning_.samples.reserve(beginningSamples);
    for (const MarkedSpeaker& speaker : speakers) speakers_[speaker.userId].speaker = speaker;
}

void HeardSound::Append(const int16_t* samples, int count, int64_t monotonicMicros) {
    std::lock_guard guard(lock_);
    const size_t before = recent_.samples.size();
    voice::AppendToRecording(recent_, samples, count, monotonicMicros);
    if (dropped_ == 0 && before == 0) {
        startMicros_ = beginning_.startMicros = recent_.startMicros;
        // A marker is searched from the last one made at or before the first sample.
        for (auto& [id, speaker] : speakers_) {
            const int64_t offset = int64_t{speaker.speaker.markerOffsetMs} * kMicrosPerMillisecond;
            speaker.nextMarkerMicros = (startMicros_ - offset) / kMicrosPerSecond * kMicrosPerSecond + offset;
        }
    }
    // What was added (silence for a gap included), as far as the beginning reaches.
    const auto total = static_cast<size_t>(TotalSamples());
    for (size_t at = beginning_.samples.size(); at < std::min(total, beginningSamples_); ++at)
        beginning_.samples.push_back(recent_.samples[at - static_cast<size_t>(dropped_)]);
}

int64_t HeardSound::SampleOnMillisecond(int64_t micros) const {
    return std::max<int64_t>(0, (micros - startMicros_) / kMicrosPerMillisecond * kSamplesPerMillisecond);
}

bool HeardSound::SearchNextMarker(Speaker& speaker, bool toTheEnd) {
    // Cut on whole milliseconds, the second holds this marker's search and
    // none of the next one's, so the search sees what it would in the whole.
    voice::Recording second;
    {
        std::lock_guard guard(lock_);
        if (recent_.samples.empty()) return false;
        const int64_t from = SampleOnMillisecond(speaker.nextMarkerMicros);
        int64_t to = SampleOnMillisecond(speaker.nextMarkerMicros + kMicrosPerSecond);
        if (to > TotalSamples()) {
            if (!toTheEnd) return false;
            to = TotalSamples();
        }
        if (to <= from) return false;
        assert(from >= dropped_);
        second.startMicros = startMicros_ + from / kSamplesPerMillisecond * kMicrosPerMillisecond;
        second.samples.assign(recent_.samples.begin() + (from - dropped_), recent_.samples.begin() + (to - dropped_));
    }
    const std::vector<int64_t> found =
        voice::MarkerLatencies(second, speaker.speaker.toneHz, speaker.speaker.markerOffsetMs);
    assert(found.size() <= 1);
    speaker.latencies.insert(speaker.latencies.end(), found.begin(), found.end());
    speaker.madeAt.insert(speaker.madeAt.end(), found.size(), speaker.nextMarkerMicros);
    speaker.nextMarkerMicros += kMicrosPerSecond;
    return true;
}

void HeardSound::DropSearched() {
    std::lock_guard guard(lock_);
    int64_t needed = TotalSamples();
    for (const auto& [id, speaker] : speakers_)
        needed = std::min(needed, SampleOnMillisecond(speaker.nextMarkerMicros));
    // Whole milliseconds, so that the rest keeps exact times, and never all
    // of it: AppendToRecording starts a recording afresh when it is empty.
    int64_t drop = std::min<int64_t>(needed - dropped_, static_cast<int64_t>(recent_.samples.size()) - 1);
    drop -= drop % kSamplesPerMillisecond;
    if (drop <= 0) return;
    recent_.samples.erase(recent_.samples.begin(), recent_.samples.begin() + drop);
    recent_.startMicros += drop / kSamplesPerMillisecond * kMicrosPerMillisecond;
    dropped_ += drop;
}

void HeardSound::Analyse() {
    // At most a second for each speaker: on a crowded machine the search is
    // slower than the sound comes, and the caller keeps its own pace; what
    // is left waits for the next call, or for Finish.
    for (auto& [id, speaker] : speakers_) SearchNextMarker(speaker, false);
    DropSearched();
}

void HeardSound::Finish() {
    for (auto& [id, speaker] : speakers_) {
        while (SearchNextMarker(speaker, false)) {
        }
        SearchNextMarker(speaker, true);
    }
    DropSearched();
}

}  // namespace room
