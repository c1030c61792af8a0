#include "transport/relay/relay_counters.h"

namespace relay {

RelayFigures RelayCounters::Read() const {
    const auto read = [](const std::atomic<uint64_t>& counter) { return counter.load(std::memory_order_relaxed); };
    return {allocationMs.load(std::memory_order_relaxed),
            read(refreshes),
            read(unauthorized),
            read(mismatches),
            read(staleNonces),
            read(redirects),
            read(datagramsOut),
            read(bytesOut),
            read(datagramsIn),
            read(bytesIn)};
}

RelayFigures Plus(const RelayFigures& past, const RelayFigures& current) {
    RelayFigures sum = current;
    sum.refreshes += past.refreshes;
    sum.unauthorized += past.unauthorized;
    sum.mismatches += past.mismatches;
    sum.staleNonces += past.staleNonces;
    sum.redirects += past.redirects;
    sum.datagramsOut += past.datagramsOut;
    sum.bytesOut += past.bytesOut;
    sum.datagramsIn += past.datagramsIn;
    sum.bytesIn += past.bytesIn;
    return sum;
}

}  // namespace relay
