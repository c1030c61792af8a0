#include "voice/tone_analysis.h"

#include "voice/voice_frame.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace voice {

namespace {

constexpr int64_t kMicrosPerSecond = 1000000;
// Markers are looked for in the 500 ms after they were made.
constexpr int64_t kSearchSamples = kSampleRateHz / 2;
// Envelope analysis: 20 ms Hann windows every 1 ms.
constexpr int kEnvelopeWindow = kSampleRateHz / 50;
constexpr int kEnvelopeHop = kSampleRateHz / 1000;
constexpr int64_t kMarkerMicros = 10000;
// A marker peak must stand this far above the second's median envelope.
constexpr double kMarkerRise = 2.0;

// Least-squares fit of a sin + b cos at one frequency; returns the fitted wave.
std::vector<double> FitSinusoid(const std::vector<double>& x, double frequencyHz) {
    const double w = 2 * std::numbers::pi * frequencyHz / kSampleRateHz;
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        const double s = std::sin(w * n), c = std::cos(w * n);
        ss += s * s;
        cc += c * c;
        sc += s * c;
        xs += x[n] * s;
        xc += x[n] * c;
    }
    const double det = ss * cc - sc * sc;
    std::vector<double> fit(x.size(), 0.0);
    if (std::abs(det) < 1e-9) return fit;
    const double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
    for (size_t n = 0; n < x.size(); ++n) fit[n] = a * std::sin(w * n) + b * std::cos(w * n);
    return fit;
}

double Magnitude(const int16_t* x, int count, double frequencyHz) {
    const double w = 2 * std::numbers::pi * frequencyHz / kSampleRateHz;
    double re = 0, im = 0;
    for (int n = 0; n < count; ++n) {
        const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / (count - 1));
        re += x[n] * hann * std::cos(w * n);
        im -= x[n] * hann * std::sin(w * n);
    }
    return std::hypot(re, im);
}

}  // namespace

void AppendToRecording(Recording& recording, const int16_t* samples, int count, int64_t monotonicMicros) {
    if (recording.samples.empty()) recording.startMicros = monotonicMicros;
    const int64_t expected = recording.startMicros +
                             static_cast<int64_t>(recording.samples.size()) * kMicrosPerSecond / kSampleRateHz;
    // Ticks come late now and then; only a gap of whole frames is silence.
    const int64_t gapSamples = (monotonicMicros - expected) * kSampleRateHz / kMicrosPerSecond;
    if (gapSamples >= kFrameSamples) recording.samples.insert(recording.samples.end(), static_cast<size_t>(gapSamples), 0);
    recording.samples.insert(recording.samples.end(), samples, samples + count);
}

double ToneSnrDb(const std::vector<int16_t>& samples, size_t from, size_t count, double frequencyHz,
                 const std::vector<double>& others) {
    if (from + count > samples.size() || count == 0) return -100;
    std::vector<double> x(samples.begin() + static_cast<long>(from), samples.begin() + static_cast<long>(from + count));
    for (double other : others) {
        const std::vector<double> fit = FitSinusoid(x, other);
        for (size_t n = 0; n < x.size(); ++n) x[n] -= fit[n];
    }
    const std::vector<double> tone = FitSinusoid(x, frequencyHz);
    double signal = 0, noise = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        signal += tone[n] * tone[n];
        noise += (x[n] - tone[n]) * (x[n] - tone[n]);
    }
    if (signal <= 0) return -100;
    return 10 * std::log10(signal / std::max(noise, 1e-9));
}

std::vector<int64_t> MarkerLatencies(const Recording& recording, double frequencyHz, int markerOffsetMs) {
    std::vector<int64_t> latencies;
    const int64_t total = static_cast<int64_t>(recording.samples.size());
    const int64_t offset = int64_t{markerOffsetMs} * 1000;
    int64_t emission = (recording.startMicros - offset) / kMicrosPerSecond * kMicrosPerSecond + offset;
    for (;; emission += kMicrosPerSecond) {
        const int64_t begin = (emission - recording.startMicros) * kSampleRateHz / kMicrosPerSecond;
        if (begin < 0) continue;
        if (begin + kSearchSamples > total) break;
        std::vector<double> envelope;
        for (int64_t at = begin; at + kEnvelopeWindow <= begin + kSearchSamples; at += kEnvelopeHop)
            envelope.push_back(Magnitude(recording.samples.data() + at, kEnvelopeWindow, frequencyHz));
        std::vector<double> sorted = envelope;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2), sorted.end());
        const double median = sorted[sorted.size() / 2];
        const auto peak = std::max_element(envelope.begin(), envelope.end());
        if (median <= 0 || *peak < kMarkerRise * median) continue;
        // At the peak the window is centred on the 10 ms burst.
        const int64_t peakSample = begin + (peak - envelope.begin()) * kEnvelopeHop + kEnvelopeWindow / 2;
        const int64_t arrival = recording.startMicros + peakSample * kMicrosPerSecond / kSampleRateHz;
        latencies.push_back(arrival - kMarkerMicros / 2 - emission);
    }
    return latencies;
}

}  // namespace voice
