#include "transport/rtp/rtp_random.h"

namespace rtp {

RTPSystemRandom::RTPSystemRandom() {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    engine_.seed(seed);
}

uint32_t RTPSystemRandom::GetRandom32() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<uint32_t>(engine_());
}

double RTPSystemRandom::GetRandomDouble() { return GetRandom32() / 4294967296.0; }

RTPSystemRandom& RTPSystemRandom::Instance() {
    static RTPSystemRandom random;
    return random;
}

}  // namespace rtp
