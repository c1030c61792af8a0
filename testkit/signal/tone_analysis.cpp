#include "testkit/signal/tone_analysis.h"

#include "testkit/signal/test_signal.h"
#include "voice/codec/voice_frame.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

namespace voice {

static_assert(kRecordingRateHz == kSampleRateHz);

namespace {

constexpr int64_t kMicrosPerSecond = 1000000;
// Markers are looked for in the 900 ms after they were made: a crowded room
// on two cores delays them past half a second, and the next one comes a
// second later.
constexpr int64_t kSearchSamples = kSampleRateHz * 9 / 10;
// Envelope analysis: 20 ms Hann windows every 1 ms.
constexpr int kEnvelopeWindow = kSampleRateHz / 50;
constexpr int kEnvelopeHop = kSampleRateHz / 1000;
// A marker peak must stand this far above the second's median envelope.
constexpr double kMarkerRise = 2.0;

// sin and cos of w n for n = 0, 1, ... by rotation, without a trig call per sample.
class Oscillator {
public:
    explicit Oscillator(double w) : stepCos_(std::cos(w)), stepSin_(std::sin(w)) {}
    double Sin() const { return sin_; }
    double Cos() const { return cos_; }
    void Next() {
        const double s = sin_ * stepCos_ + cos_ * stepSin_;
        cos_ = cos_ * stepCos_ - sin_ * stepSin_;
        sin_ = s;
    }

private:
    double stepCos_, stepSin_;
    double sin_ = 0, cos_ = 1;
};

// Least-squares fit of a sin + b cos at one frequency; returns the fitted wave.
std::vector<double> FitSinusoid(const std::vector<double>& x, double frequencyHz) {
    const double w = 2 * std::numbers::pi * frequencyHz / kSampleRateHz;
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0;
    Oscillator wave(w);
    for (size_t n = 0; n < x.size(); ++n, wave.Next()) {
        const double s = wave.Sin(), c = wave.Cos();
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
    Oscillator again(w);
    for (size_t n = 0; n < x.size(); ++n, again.Next()) fit[n] = a * again.Sin() + b * again.Cos();
    return fit;
}

const std::vector<double>& HannWindow() {
    static const std::vector<double> window = [] {
        std::vector<double> w(kEnvelopeWindow);
        for (int n = 0; n < kEnvelopeWindow; ++n)
            w[static_cast<size_t>(n)] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / (kEnvelopeWindow - 1));
        return w;
    }();
    return window;
}

// The tone's strength in one Hann-windowed envelope window (Goertzel).
double Magnitude(const int16_t* x, double frequencyHz) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequencyHz / kSampleRateHz);
    const std::vector<double>& hann = HannWindow();
    double s1 = 0, s2 = 0;
    for (int n = 0; n < kEnvelopeWindow; ++n) {
        const double s = x[n] * hann[static_cast<size_t>(n)] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coefficient * s1 * s2));
}

}  // namespace

void AppendToRecording(Recording& recording, const int16_t* samples, int count, int64_t monotonicMicros) {
    if (recording.samples.empty()) recording.startMicros = monotonicMicros;
    const int64_t expected =
        recording.startMicros + static_cast<int64_t>(recording.samples.size()) * kMicrosPerSecond / kSampleRateHz;
    // Ticks come late now and then; only a gap of whole frames is silence.
    const int64_t gapSamples = (monotonicMicros - expected) * kSampleRateHz / kMicrosPerSecond;
    if (gapSamples >= kFrameSamples)
        recording.samples.insert(recording.samples.end(), static_cast<size_t>(gapSamples), 0);
    recording.samples.insert(recording.samples.end(), samples, samples + count);
}

namespace {

// The samples with the listed tones fitted and taken out.
std::vector<double> WithoutTones(const std::vector<int16_t>& samples, size_t from, size_t count,
                                 const std::vector<double>& tones) {
    std::vector<double> x(samples.begin() + static_cast<long>(from), samples.begin() + static_cast<long>(from + count));
    for (double tone : tones) {
        const std::vector<double> fit = FitSinusoid(x, tone);
        for (size_t n = 0; n < x.size(); ++n) x[n] -= fit[n];
    }
    return x;
}

double EnergyDb(double signal, double noise) {
    if (signal <= 0) return -100;
    return 10 * std::log10(signal / std::max(noise, 1e-9));
}

// Energy of x between low and high Hz, from its DFT bins (Goertzel each).
double BandEnergy(const std::vector<double>& x, double lowHz, double highHz) {
    const double n = static_cast<double>(x.size());
    const double binHz = kSampleRateHz / n;
    double energy = 0;
    for (int k = std::max(1, static_cast<int>(std::ceil(lowHz / binHz))); k * binHz <= highHz; ++k) {
        const double coefficient = 2 * std::cos(2 * std::numbers::pi * k / n);
        double s1 = 0, s2 = 0;
        for (double v : x) {
            const double s = v + coefficient * s1 - s2;
            s2 = s1;
            s1 = s;
        }
        energy += 2 * (s1 * s1 + s2 * s2 - coefficient * s1 * s2) / n;  // both halves of the spectrum
    }
    return energy;
}

}  // namespace

double ToneSnrDb(const std::vector<int16_t>& samples, size_t from, size_t count, double frequencyHz,
                 const std::vector<double>& others) {
    if (from + count > samples.size() || count == 0) return -100;
    const std::vector<double> x = WithoutTones(samples, from, count, others);
    const std::vector<double> tone = FitSinusoid(x, frequencyHz);
    double signal = 0, noise = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        signal += tone[n] * tone[n];
        noise += (x[n] - tone[n]) * (x[n] - tone[n]);
    }
    return EnergyDb(signal, noise);
}

double ToneLevelDb(const std::vector<int16_t>& samples, size_t from, size_t count, double frequencyHz) {
    if (from + count > samples.size() || count == 0) return -100;
    const std::vector<double> tone = FitSinusoid(WithoutTones(samples, from, count, {}), frequencyHz);
    double energy = 0;
    for (double v : tone) energy += v * v;
    return EnergyDb(energy / static_cast<double>(count), 1.0);
}

double ToneSnrInBandDb(const std::vector<int16_t>& samples, size_t from, size_t count, double frequencyHz,
                       double bandHz, const std::vector<double>& others) {
    if (from + count > samples.size() || count == 0) return -100;
    std::vector<double> x = WithoutTones(samples, from, count, others);
    const std::vector<double> tone = FitSinusoid(x, frequencyHz);
    double signal = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        signal += tone[n] * tone[n];
        x[n] -= tone[n];
    }
    return EnergyDb(signal, BandEnergy(x, frequencyHz - bandHz, frequencyHz + bandHz));
}

double WindowedToneAmplitude(const std::vector<int16_t>& samples, size_t from, size_t count, double frequencyHz) {
    if (from + count > samples.size() || count < 2) return 0;
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequencyHz / kSampleRateHz);
    Oscillator hann(2 * std::numbers::pi / static_cast<double>(count - 1));
    double s1 = 0, s2 = 0;
    for (size_t n = 0; n < count; ++n, hann.Next()) {
        const double s = samples[from + n] * (0.5 - 0.5 * hann.Cos()) + coefficient * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    // The window passes half of a tone's amplitude, and the sum holds half of each of its two halves.
    return 4 * std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coefficient * s1 * s2)) / static_cast<double>(count);
}

namespace {

// The sample at the peak of the tone's envelope within [begin, begin +
// count), when it stands out of that stretch's median as a marker does.
std::optional<int64_t> MarkerPeak(const std::vector<int16_t>& samples, int64_t begin, int64_t count,
                                  double frequencyHz) {
    begin = std::max<int64_t>(begin, 0);
    if (begin + count > static_cast<int64_t>(samples.size())) return std::nullopt;
    std::vector<double> envelope;
    for (int64_t at = begin; at + kEnvelopeWindow <= begin + count; at += kEnvelopeHop)
        envelope.push_back(Magnitude(samples.data() + at, frequencyHz));
    std::vector<double> sorted = envelope;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    const auto peak = std::max_element(envelope.begin(), envelope.end());
    if (median <= 0 || *peak < kMarkerRise * median) return std::nullopt;
    // At the peak the window is centred on the burst.
    return begin + (peak - envelope.begin()) * kEnvelopeHop + kEnvelopeWindow / 2;
}

}  // namespace

std::vector<int64_t> MarkerLatencies(const Recording& recording, double frequencyHz, int markerOffsetMs) {
    std::vector<int64_t> latencies;
    const int64_t total = static_cast<int64_t>(recording.samples.size());
    const int64_t offset = int64_t{markerOffsetMs} * 1000;
    int64_t emission = (recording.startMicros - offset) / kMicrosPerSecond * kMicrosPerSecond + offset;
    for (;; emission += kMicrosPerSecond) {
        const int64_t begin = (emission - recording.startMicros) * kSampleRateHz / kMicrosPerSecond;
        if (begin < 0) continue;
        if (begin + kSearchSamples > total) break;
        const std::optional<int64_t> peak = MarkerPeak(recording.samples, begin, kSearchSamples, frequencyHz);
        if (!peak) continue;
        const int64_t arrival = recording.startMicros + *peak * kMicrosPerSecond / kSampleRateHz;
        latencies.push_back(arrival - kMarkerMicros / 2 - emission);
    }
    return latencies;
}

std::vector<int64_t> MarkerDelays(const std::vector<int16_t>& from, const std::vector<int16_t>& to,
                                  double frequencyHz) {
    std::vector<int64_t> delays;
    for (int64_t begin = 0; begin + kSampleRateHz <= static_cast<int64_t>(from.size());) {
        const std::optional<int64_t> said = MarkerPeak(from, begin, kSampleRateHz, frequencyHz);
        if (!said) {
            begin += kSampleRateHz;
            continue;
        }
        if (const std::optional<int64_t> heard = MarkerPeak(to, *said - kEnvelopeWindow, kSearchSamples, frequencyHz))
            delays.push_back((*heard - *said) * kMicrosPerSecond / kSampleRateHz);
        begin = *said + kSampleRateHz / 2;
    }
    return delays;
}

}  // namespace voice
