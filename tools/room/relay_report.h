// What the impairment relay did: the "relay" member of stats.json.
#pragma once

#include "testbed/network/impairment_relay.h"

#include <string>

namespace room {

// {"settings": {...}, "flows": [{"from", "to", "medium", "channel", counts...}]}
std::string RelayJson(const ImpairmentRelay& relay);

}  // namespace room
