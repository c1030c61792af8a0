// What one listener heard, analysed as it arrives so that memory stays
// bounded however long the room runs: each speaker's marker latencies are
// found once the second after the marker has been heard, and only the
// first seconds are kept whole (for the tone windows). The figures equal
// those of voice::MarkerLatencies on the whole recording.
#pragma once

#include "testkit/signal/tone_analysis.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace room {

struct MarkedSpeaker {
    int userId = 0;
    double toneHz = 0;
    int markerOffsetMs = 0;
};

class HeardSound {
public:
    // Keeps the first `beginningSamples` of the sound whole.
    HeardSound(const std::vector<MarkedSpeaker>& speakers, size_t beginningSamples);

    // From the speaker's thread: a chunk as voice::AppendToRecording takes it.
    void Append(const int16_t* samples, int count, int64_t monotonicMicros);
    // From another thread, now and then: finds each speaker's next marker
    // whose second has been heard and lets go of the sound no marker needs
    // any more.
    void Analyse();
    // After the last Append: the markers heard to the end as well.
    void Finish();

    // After Finish. Latencies in microseconds, in marker order.
    const std::vector<int64_t>& Latencies(int speakerId) const { return speakers_.at(speakerId).latencies; }
    // When each of those markers was made, monotonic microseconds.
    const std::vector<int64_t>& MarkersMadeAt(int speakerId) const { return speakers_.at(speakerId).madeAt; }
    // The first samples, with the time of the first one.
    const voice::Recording& Beginning() const { return beginning_; }
    int64_t TotalSamples() const { return dropped_ + static_cast<int64_t>(recent_.samples.size()); }

private:
    struct Speaker {
        MarkedSpeaker speaker;
        int64_t nextMarkerMicros = 0;  // the first marker not searched yet
        std::vector<int64_t> latencies;
        std::vector<int64_t> madeAt;
    };
    // The sample on the recording's last whole millisecond at or before
    // `micros` (0 before the recording began): sound cut there keeps the
    // time of every sample exact, in whole microseconds.
    int64_t SampleOnMillisecond(int64_t micros) const;
    // Searches the speaker's next marker in the second from it to the next
    // one (to the end of the sound when `toTheEnd`); false while that second
    // has not been heard.
    bool SearchNextMarker(Speaker& speaker, bool toTheEnd);
    // Lets go of the sound before every speaker's next marker.
    void DropSearched();

    mutable std::mutex lock_;
    // The sound from sample dropped_ on: a recording of its own, started
    // that many samples late, which AppendToRecording extends as the whole.
    voice::Recording recent_;
    int64_t dropped_ = 0;
    int64_t startMicros_ = 0;
    voice::Recording beginning_;
    size_t beginningSamples_;
    std::map<int, Speaker> speakers_;
};

}  // namespace room
