// Microphones and speakers without sound hardware, for tests and demos.
// Hosts add them with TavolinAddSyntheticMicrophone / ...Speaker.
#pragma once

#include "voice/audio_device.h"

#include <tavolin/tavolin.h>

#include <memory>
#include <string>
#include <vector>

namespace voice {

std::vector<std::string> SyntheticDeviceNames(DeviceKind kind);
// Null when no synthetic device of that kind has the name.
std::unique_ptr<Microphone> OpenSyntheticMicrophone(const std::string& name);
std::unique_ptr<Speaker> OpenSyntheticSpeaker(const std::string& name);

// The test signal of a synthetic microphone, sample by sample from its start.
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
