#include "testbed/voice_settings.h"

#include <numeric>

namespace room {

bool KeyDown(const std::vector<int>& patternMs, int player, int players, std::chrono::milliseconds sinceStart) {
    const int64_t periodMs = std::accumulate(patternMs.begin(), patternMs.end(), int64_t{0});
    if (periodMs <= 0 || players <= 0) return false;
    const int64_t lateMs = periodMs * player / players;
    if (sinceStart.count() < lateMs) return false;
    int64_t at = (sinceStart.count() - lateMs) % periodMs;
    for (size_t i = 0; i < patternMs.size(); ++i) {
        if (at < patternMs[i]) return i % 2 == 0;
        at -= patternMs[i];
    }
    return false;
}

}  // namespace room
