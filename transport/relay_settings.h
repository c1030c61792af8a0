// Whether and through which relay servers the sessions send, as the host
// set it before Create.
#pragma once

#include "transport/relay/allocation.h"

#include <cstdint>
#include <vector>

enum class RelayPolicy : uint8_t { kNever, kWhenNeeded, kAlways };

struct RelaySettings {
    RelayPolicy policy = RelayPolicy::kNever;
    std::vector<relay::RelayServer> servers;  // tried in order: the next when one fails
};
