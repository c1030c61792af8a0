// Measures what a listener heard: whether a speaker's tone is in the mix, how
// clean it is, and when that speaker's once-a-second markers (the tone 12 dB
// louder for 10 ms, see TavolinAddSyntheticMicrophone) arrived. Used by tests,
// benchmarks and the room demo; not part of the component.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace voice {

// Sixteen tones 100 Hz or more apart that the voice codec passes with 28 dB
// or more of signal to noise whatever the tone's phase at the first frame
// (measured at -24 dBFS with the once-a-second marker, every 23rd sample of
// a frame). A pure tone is hard for the codec: at many frequencies, e.g.
// 1100 or 1300 Hz, some phases leave only 2-10 dB, and which phase a call
// gets depends on when it starts.
inline constexpr int kDistinctTones = 16;
inline constexpr int kDistinctToneFrequenciesHz[kDistinctTones] = {850,  1050, 1150, 1250, 1950, 2100, 2350, 2450,
                                                                   2550, 2700, 2950, 3050, 3200, 3450, 3650, 3950};

// The rate of what a listener hears: the library's sound, 16 kHz mono.
inline constexpr int kRecordingRateHz = 16000;

// Sound with the CLOCK_MONOTONIC time of its first sample, 16 kHz mono.
struct Recording {
    int64_t startMicros = 0;
    std::vector<int16_t> samples;
};

// Appends a speaker callback's chunk; a gap in time is filled with silence.
void AppendToRecording(Recording& recording, const int16_t* samples, int count, int64_t monotonicMicros);

// Tone power against everything else in [from, from + count) samples, in dB:
// the least-squares sinusoid of that frequency versus the rest. Other
// speakers' tones count as noise unless listed in `others`, which are
// fitted and removed first.
double ToneSnrDb(const std::vector<int16_t>& samples, size_t from, size_t count, double frequencyHz,
                 const std::vector<double>& others = {});

// The tone's mean power in [from, from + count) samples, in dB.
double ToneLevelDb(const std::vector<int16_t>& samples, size_t from, size_t count, double frequencyHz);

// The same as ToneSnrDb, with only what lies within bandHz of the tone counted as noise:
// whether the tone stands out where a listener would hear it, in a mix with
// other voices' coding noise elsewhere.
double ToneSnrInBandDb(const std::vector<int16_t>& samples, size_t from, size_t count, double frequencyHz,
                       double bandHz, const std::vector<double>& others = {});

// A tone's amplitude in [from, from + count) samples, through a Hann
// window: over 60 ms a tone 100 Hz away leaks in about 50 dB down, where a
// plain fit lets it in at -25 dB and an abrupt start or end spreads wide.
double WindowedToneAmplitude(const std::vector<int16_t>& samples, size_t from, size_t count, double frequencyHz);

// Mouth-to-ear latencies in microseconds of a speaker's markers in the
// recording: for each marker instant (whole second + markerOffsetMs of
// CLOCK_MONOTONIC) whose following 500 ms were recorded, the time from the
// instant to the peak of the tone's envelope, when one stands out.
std::vector<int64_t> MarkerLatencies(const Recording& recording, double frequencyHz, int markerOffsetMs);

// Delays in microseconds from each marker of that tone in `from` to the same
// marker in `to`, two recordings of one sample clock (16 kHz): a microphone's
// feed and a speaker's output recorded side by side.
std::vector<int64_t> MarkerDelays(const std::vector<int16_t>& from, const std::vector<int16_t>& to, double frequencyHz);

}  // namespace voice
