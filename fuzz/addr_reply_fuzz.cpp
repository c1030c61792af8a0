// Public-address replies as a session's RTP socket may receive them: any
// bytes from the network, unscrambled and checked in place.
#include "transport/address/address_datagram.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace address_exchange;
    std::vector<uint8_t> bytes(data, data + size);
    Datagram datagram;
    if (ParseDatagram(bytes.data(), bytes.size(), &datagram)) {
        const uint8_t* end = bytes.data() + bytes.size();
        if (datagram.payload + datagram.payloadLength > end) std::abort();
    }

    bytes.assign(data, data + size);
    PublicAddress answer;
    if (!ParseAddressReply(bytes.data(), bytes.size(), &answer)) return 0;
    // What parses as a reply must survive being built again.
    std::vector<uint8_t> rebuilt = BuildAddressReply(answer);
    PublicAddress again;
    if (!ParseAddressReply(rebuilt.data(), rebuilt.size(), &again) || again.address != answer.address ||
        again.port != answer.port) {
        std::abort();
    }
    return 0;
}
