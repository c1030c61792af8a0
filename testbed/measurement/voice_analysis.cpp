#include "testbed/measurement/voice_analysis.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

namespace room {
namespace {

// A listener hears a speaker when the speaker's tone stands this far above
// whatever else the mix holds within kHearingBandHz of it (the room's other
// tones taken out) in at least a third of the windows since it was first
// heard. Not in all: at some phases the codec rings on a pure tone after a
// marker for most of a second, with no network in between; a delivery
// fault (nothing played, wrong sound, frequent concealment) spoils them all.
constexpr double kHeardSnrDb = 10;
constexpr size_t kHeardWindowShare = 3;
constexpr double kHearingBandHz = 50;
// The mix is judged in half-second windows between two of the speaker's
// markers, one per second from a second after the speaker opened.
constexpr int64_t kFirstWindowMicros = 1000000;
constexpr size_t kSnrWindowSamples = 8000;
constexpr int kMaxSnrWindows = 15;
constexpr int64_t kQuietAfterMarkerMicros = 250000;
constexpr int64_t kQuietAfterArrivalMicros = 100000;
// Latencies from this many seconds on show a room past its start-up.
constexpr size_t kSettledMarkerSeconds = 5;
// The windows lie in the first seconds of the sound: the last one ends
// before its marker (a second apart from the first) plus a latency, which
// is under a second as the next marker comes a second later, the quiet
// after the marker's arrival and the window itself.
constexpr int64_t kLastWindowEndMicros = kFirstWindowMicros + kMaxSnrWindows * int64_t{1000000} +
                                         kQuietAfterArrivalMicros +
                                         kSnrWindowSamples * 1000000 / voice::kRecordingRateHz;
constexpr size_t kKeptSamples = kLastWindowEndMicros * voice::kRecordingRateHz / 1000000 + 1;
// A speaker who talks now and then is heard when its tone stands kHeardSnrDb
// above the mix halfway to its neighbours (kHearingBandHz either side, where
// no tone of the room lies) in at least this many 60 ms windows (0.3 s of
// sound); a syllable changes little in such a window.
constexpr size_t kTalkWindowSamples = voice::kRecordingRateHz * 60 / 1000;
constexpr int kTalkWindowsHeard = 5;
const double kHeardAmplitudeRatio = std::pow(10.0, kHeardSnrDb / 20);
// ...and is louder than -70 dBFS, which the sidelobes of a neighbour are not.
const double kQuietestHeardAmplitude = 32768 * std::sqrt(2.0) * std::pow(10.0, -70.0 / 20);
// A mix's level in dB relative to one unit, as ToneLevelDb gives it, is this
// much above its level relative to full scale.
constexpr double kFullScaleDb = 90.309;

double Percentile(std::vector<int64_t> values, double share) {
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(share * static_cast<double>(values.size())));
    return static_cast<double>(values[index]) / 1000.0;
}

}  // namespace

size_t HeardSamplesJudged() { return kKeptSamples; }

std::map<int, TalkFigures> FindTalk(const HeardSound& heard, const std::vector<MarkedSpeaker>& speakers) {
    std::map<int, TalkFigures> talk;
    const std::vector<int16_t>& samples = heard.Beginning().samples;
    for (const MarkedSpeaker& speaker : speakers) {
        TalkFigures& figures = talk[speaker.userId];
        double power = 0;
        for (size_t from = 0; from + kTalkWindowSamples <= samples.size(); from += kTalkWindowSamples) {
            const auto amplitude = [&](double hz) {
                return voice::WindowedToneAmplitude(samples, from, kTalkWindowSamples, hz);
            };
            const double tone = amplitude(speaker.toneHz);
            const double beside =
                std::max(amplitude(speaker.toneHz - kHearingBandHz), amplitude(speaker.toneHz + kHearingBandHz));
            if (tone < kQuietestHeardAmplitude || tone < beside * kHeardAmplitudeRatio) continue;
            ++figures.windows;
            power += tone * tone / 2;
        }
        if (figures.windows > 0) figures.levelDbfs = 10 * std::log10(power / figures.windows) - kFullScaleDb;
    }
    return talk;
}

VoicePair JudgeVoice(int listener, const MarkedSpeaker& speaker, const std::vector<double>& otherTonesHz,
                     const HeardSound& heard, const TavolinVoiceStats* counters, const Expectation& expectation,
                     const TalkFigures& talk) {
    VoicePair pair;
    pair.listener = listener;
    pair.speaker = speaker.userId;
    pair.muted = expectation.muted;
    pair.talkWindows = talk.windows;
    if (counters) {
        pair.received = counters->framesReceived;
        pair.lost = counters->framesLost;
        pair.concealed = counters->framesConcealed;
        pair.late = counters->framesLate;
        pair.skipped = counters->framesSkipped;
        pair.jitterDelayMs = counters->jitterDelayMs;
    }
    // Every other tone of the room is fitted and taken out; what remains
    // beside the speaker's tone is coding noise and distortion. One window a
    // second, `afterMarker` after each marker was made.
    const voice::Recording& beginning = heard.Beginning();
    const int64_t offset = speaker.markerOffsetMs * int64_t{1000};
    const int64_t firstMarker = (beginning.startMicros + kFirstWindowMicros - offset) / 1000000 * 1000000 + offset;
    const auto windowSnrs = [&](int64_t afterMarker, std::vector<double>* levels) {
        std::vector<double> snrs;
        int64_t marker = firstMarker;
        for (int i = 0; i < kMaxSnrWindows; ++i, marker += 1000000) {
            const int64_t begin = (marker + afterMarker - beginning.startMicros) * 16 / 1000;
            if (begin < 0 || begin + int64_t{kSnrWindowSamples} > heard.TotalSamples()) break;
            assert(static_cast<size_t>(begin) + kSnrWindowSamples <= beginning.samples.size());
            snrs.push_back(voice::ToneSnrInBandDb(beginning.samples, static_cast<size_t>(begin), kSnrWindowSamples,
                                                  speaker.toneHz, kHearingBandHz, otherTonesHz));
            if (levels && snrs.back() >= kHeardSnrDb)
                levels->push_back(voice::ToneLevelDb(beginning.samples, static_cast<size_t>(begin), kSnrWindowSamples,
                                                     speaker.toneHz) -
                                  kFullScaleDb);
        }
        return snrs;
    };
    const auto heardAt = [](double snr) { return snr >= kHeardSnrDb; };
    // What the marker search finds before the speaker is first heard (it
    // joined later) is another tone's marker leaking in: only the markers
    // made from the first second it is heard in count.
    std::vector<double> clearLevels;
    const std::vector<double> clearOfMarkers = windowSnrs(kQuietAfterMarkerMicros, &clearLevels);
    const auto firstClear = std::find_if(clearOfMarkers.begin(), clearOfMarkers.end(), heardAt);
    // Heard in the first window, or never: every marker counts.
    const int64_t countedFrom = firstClear == clearOfMarkers.begin() || firstClear == clearOfMarkers.end()
                                    ? std::numeric_limits<int64_t>::min()
                                    : firstMarker + (firstClear - clearOfMarkers.begin()) * 1000000;
    std::vector<int64_t> latencies;
    const std::vector<int64_t>& found = heard.Latencies(speaker.userId);
    const std::vector<int64_t>& madeAt = heard.MarkersMadeAt(speaker.userId);
    for (size_t i = 0; i < found.size(); ++i)
        if (madeAt[i] >= countedFrom) latencies.push_back(found[i]);
    if (!latencies.empty()) {
        pair.latencyMedianMs = Percentile(latencies, 0.5);
        pair.latencyP95Ms = Percentile(latencies, 0.95);
        pair.latencyP99Ms = Percentile(latencies, 0.99);
        // One marker a second.
        if (latencies.size() > kSettledMarkerSeconds)
            pair.settledLatencyP95Ms =
                Percentile(std::vector<int64_t>(latencies.begin() + kSettledMarkerSeconds, latencies.end()), 0.95);
    }
    // Half a second from 100 ms after a marker is heard (250 ms after it was
    // made when it was never heard): clear of its sound and of the next one's,
    // which a slow path delays as much.
    const int64_t windowAfterMarker =
        std::max<int64_t>(kQuietAfterMarkerMicros,
                          static_cast<int64_t>(pair.latencyMedianMs.value_or(0) * 1000) + kQuietAfterArrivalMicros);
    // Most paths are fast: the windows are those already judged.
    std::vector<double> levels = std::move(clearLevels);
    std::vector<double> snrs = clearOfMarkers;
    if (windowAfterMarker != kQuietAfterMarkerMicros) {
        levels.clear();
        snrs = windowSnrs(windowAfterMarker, &levels);
    }
    if (expectation.intermittent || expectation.muted) {
        // A marker made in silence, or of a muted player, never sounded:
        // what the search finds then is noise, so no latency is told.
        pair.latencyMedianMs.reset();
        pair.latencyP95Ms.reset();
        pair.latencyP99Ms.reset();
        pair.settledLatencyP95Ms.reset();
    }
    if (expectation.intermittent) {
        pair.toneSnrDb = snrs.empty() ? 0 : *std::max_element(snrs.begin(), snrs.end());
        pair.levelDbfs = talk.levelDbfs;
        pair.heard = talk.windows >= kTalkWindowsHeard;
        return pair;
    }
    if (!levels.empty()) {
        std::sort(levels.begin(), levels.end());
        pair.levelDbfs = levels[levels.size() / 2];
    }
    // Judged from the first window the speaker was heard in (players join
    // at different times); the median from there on is reported.
    const auto first = std::find_if(snrs.begin(), snrs.end(), heardAt);
    if (first == snrs.end()) {
        pair.toneSnrDb = snrs.empty() ? 0 : *std::max_element(snrs.begin(), snrs.end());
        return pair;
    }
    std::vector<double> since(first, snrs.end());
    std::sort(since.begin(), since.end());
    pair.toneSnrDb = since[since.size() / 2];
    const auto heardWindows = static_cast<size_t>(std::count_if(since.begin(), since.end(), heardAt));
    pair.heard = heardWindows * kHeardWindowShare >= since.size();
    return pair;
}

bool VoiceReport::EveryPairAsExpected() const {
    return std::all_of(pairs.begin(), pairs.end(), [](const VoicePair& pair) { return pair.AsExpected(); });
}

}  // namespace room
