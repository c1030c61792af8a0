// Datagrams as a peer's unprotector receives them, protected by the peer or
// not: whatever comes, the verdict is one of the known ones, an accepted
// packet is exactly its protected form less the overhead with the header
// untouched, and a dropped one leaves nothing to parse. Input and seeds:
// tests/transport/srtp/unprotect_records.h.
#include "tests/transport/srtp/unprotect_records.h"
#include "transport/srtp/library_hold.h"

#include <cstdlib>

namespace {
void Check(bool condition) {
    if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static srtp::LibraryHold hold;  // libsrtp starts once, not once per input
    Check(hold.Held());
    unprotect_records::OpenRecords(std::span(data, size), [](srtp::PacketKind kind, std::span<const uint8_t> came,
                                                             srtp::Unprotected result, std::span<const uint8_t> left) {
        Check(static_cast<size_t>(result.verdict) < srtp::kVerdicts);
        if (!result.Accepted()) {
            Check(result.length == 0);
            return;
        }
        Check(result.length + srtp::OverheadBytes(kind) == came.size());
        Check(std::equal(came.begin(), came.begin() + static_cast<ptrdiff_t>(srtp::HeaderBytes(kind)), left.begin()));
    });
    return 0;
}
