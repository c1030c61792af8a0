#pragma once

#include <cstdint>

namespace voice {

// The test signal of a synthetic microphone (TAVOLIN_MIC_TONE, _SPEECH or
// _CONVERSATION with a marker once a second), sample by sample from its
// start; also what feeds the microphones of a private sound server.
class SignalGenerator {
public:
    SignalGenerator(int signal, int frequencyHz, int markerOffsetMs);
    // count samples, the first of them at monotonicMicros.
    void Generate(int16_t* out, int count, int64_t monotonicMicros);

private:
    double Envelope();
    double TurnEnvelope();
    uint32_t Random(uint32_t spread);

    int signal_;
    double frequencyHz_;
    int markerOffsetMs_;
    double phase_ = 0;
    uint32_t random_;
    int64_t envelopeSamplesLeft_ = 0;
    int64_t burstLength_ = 1;
    bool speaking_ = false;
    int64_t turnSamplesLeft_ = 0;  // of the turn or the silence after it
    bool inTurn_ = false;
};

}  // namespace voice
