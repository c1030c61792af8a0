// What the impairment relay did: the "relay" member of stats.json.
#pragma once

#include "testbed/network/impairment_relay.h"
#include "tools/room/json_value.h"

namespace room {

// {"settings": {...}, "flows": [{"from", "to", "medium", "channel", counts...}]}
JsonValue RelayJson(const ImpairmentRelay& relay);

}  // namespace room
