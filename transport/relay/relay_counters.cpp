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

}  // namespace relay
