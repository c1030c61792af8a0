#include "transport/source_figures.h"

#include "transport/rtp/rtp_defaults.h"

#include <cmath>

namespace source_figures {
namespace {
constexpr double kFractionUnits = 256.0;             // fraction lost field
constexpr double kShortNTPUnitsPerSecond = 65536.0;  // LSR and DLSR fields
constexpr double kMillisecondsPerSecond = 1000.0;

// The middle 32 bits of the NTP time of clock time `seconds`.
uint32_t ShortNTP(double seconds) {
    const double ntp = seconds + rtp::kNTPEpochOffsetSeconds;
    return static_cast<uint32_t>(static_cast<uint64_t>(std::floor(ntp * kShortNTPUnitsPerSecond)));
}
}  // namespace

double RoundTripSeconds(const rtp::RTPSourceData& source) {
    if (!source.RR_HasInfo() || source.RR_GetLastSRTimestamp() == 0) return 0;
    // Differences modulo 2^32 stay right across the wrap of the short NTP time.
    const uint32_t units =
        ShortNTP(source.RR_GetReceiveTime()) - source.RR_GetLastSRTimestamp() - source.RR_GetDelaySinceLastSR();
    // A negative result (clock steps, a bogus report) shows as a huge one.
    if (units >= 0x80000000u) return 0;
    return units / kShortNTPUnitsPerSecond;
}

void Fill(const rtp::RTPSourceData& source, double timestampUnit, MediumTransportStatistics* out) {
    out->hasReception = source.GetRTPDataAddress() != nullptr;
    if (out->hasReception) {
        out->fractionLost = source.INF_GetFractionLost() / kFractionUnits;
        out->cumulativeLost = source.INF_GetNumPacketsLost();
        out->jitterMs = source.INF_GetJitter() * timestampUnit * kMillisecondsPerSecond;
    }
    out->hasPeerReport = source.RR_HasInfo();
    if (out->hasPeerReport) {
        out->peerFractionLost = source.RR_GetFractionLost() / kFractionUnits;
        out->peerCumulativeLost = source.RR_GetPacketsLost();
        out->peerJitterMs = source.RR_GetJitter() * timestampUnit * kMillisecondsPerSecond;
        out->peerReportTime = source.RR_GetReceiveTime();
    }
    out->roundTripMs = RoundTripSeconds(source) * kMillisecondsPerSecond;
}

}  // namespace source_figures
